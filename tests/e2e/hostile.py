#!/usr/bin/env python3
"""Hostile input to the native tool, end to end: huge and numerous arguments, invalid UTF-8,
characters beyond the BMP, numbers at and past the 32-bit limits, empty and blank numbers.
Every case must give the defined messages and status, without a crash or a hang.
"""

import errno

import e2e
import runner
from cases import (ANSWERED, DUMPED, FAILURE, GAVE_UP, PARAM_ERROR, STOPPED, UNKNOWN, Case,
                   Step, admin, failed, one, ping)

# Linux refuses any single argument of 32 pages or more (MAX_ARG_STRLEN) at exec.
LARGEST_ARGUMENT = 32 * 4096 - 1
# A dump or reload request carries 31 bytes besides the file name in a 64 KiB payload.
LARGEST_FRAMED_NAME = 65536 - 31
MANY = 10_000
SHELL_RAN = "zebcmd-hostile-shell-ran"
SHELL_NAME = f"{{dir}}/$(touch {SHELL_RAN});`touch {SHELL_RAN}`|x&&touch {SHELL_RAN}"

# Not a message: what the target reports when exec refuses the arguments (the tool never ran).
EXEC_REFUSED = [b"<exec refused: E2BIG>"]


def words(count, size=100):
    """count distinct words of size bytes: about a megabyte of command line for 10,000."""
    return [f"{i:0{size}d}" for i in range(count)]


def keeps_trying(name, max_try, interval="0"):
    """A MaxTry that reads as 0 or below: tries until the server answers at the third try."""
    return ping(name, max_try, interval, 2, [FAILURE] * 2 + ANSWERED, 1)


def reads_three(name, max_try, interval="0"):
    """A MaxTry that reads as 3: gives up against a server that answers only at the fourth."""
    return ping(name, max_try, interval, 3, [FAILURE] * 2 + GAVE_UP, 0)


def dump_name(name, arg, sent, journalled=None):
    """-dump of a name that reaches the server as sent, journalled escaped."""
    return one(name, ["-dump", arg], DUMPED, journal=[admin("dump", 0, journalled or sent)],
               files=[sent])


HOSTILE_CASES = [
    # Sizes: one argument past what exec takes, the largest it takes, the frame boundary.
    one("one_mib_dump_name_refused_by_exec", ["-dump", "x" * (1 << 20)], EXEC_REFUSED, None),
    one("largest_argument_as_dump_name", ["-dump", "x" * LARGEST_ARGUMENT], failed("Dump", -2)),
    one("largest_argument_as_reload_name", ["-reload", "x" * LARGEST_ARGUMENT],
        failed("Reload", -2)),
    one("dump_name_one_past_the_frame", ["-dump", "y" * (LARGEST_FRAMED_NAME + 1)],
        failed("Dump", -2)),
    one("dump_name_filling_the_frame", ["-dump", "y" * LARGEST_FRAMED_NAME], failed("Dump", -7),
        journal=[admin("dump", -7, "y" * LARGEST_FRAMED_NAME)]),
    one("reload_name_filling_the_frame", ["-reload", "z" * LARGEST_FRAMED_NAME],
        failed("Reload", -8), journal=[admin("reload", -8, "z" * LARGEST_FRAMED_NAME)]),
    # Ten thousand arguments, about a megabyte of command line.
    one("stop_with_many_words", ["-stop"] + words(MANY), STOPPED, journal=[admin("stop")],
        server_exits=True),
    one("reset_with_many_words", ["-reset"] + words(MANY), [b"Reset command successful\n"],
        journal=[admin("reset")]),
    one("dump_with_many_files", ["-dump"] + words(MANY), [PARAM_ERROR["dump"]]),
    one("ping_with_many_numbers", ["-ping"] + words(MANY, 1), [PARAM_ERROR["ping"]]),
    one("unknown_word_with_many_words", ["-halt"] + words(MANY), UNKNOWN),
    # Invalid UTF-8: each maximal invalid sequence is one U+FFFD, narrowed to a space.
    dump_name("dump_name_with_invalid_byte", b"{dir}/bad\xff.bin", "{dir}/bad .bin"),
    dump_name("dump_name_in_latin1_bytes", b"{dir}/caf\xe9.bin", "{dir}/caf .bin"),
    dump_name("dump_name_with_overlong_surrogate_and_truncated_sequences",
              b"{dir}/a\xc0\xafb\xed\xa0\x80c\xe2\x82", "{dir}/a  b   c "),
    one("command_word_with_invalid_byte", [b"-stop\xff"], UNKNOWN),
    one("command_word_all_invalid", [b"\xff\xfe\xfd"], UNKNOWN),
    one("command_word_truncated_sequence", [b"-sto\xc3"], UNKNOWN),
    reads_three("max_try_after_invalid_byte_reads_through_the_space", b"\xff3"),
    keeps_trying("interval_of_invalid_bytes_pauses_zero", "0", b"\xc3\xff"),
    # Beyond the BMP: a surrogate pair, narrowed to two spaces.
    dump_name("dump_name_beyond_the_bmp", "{dir}/\U0001F600.bin", "{dir}/  .bin"),
    one("command_word_beyond_the_bmp", ["-stop\U0001F600"], UNKNOWN),
    reads_three("max_try_after_emoji", "\U0001F6003"),
    reads_three("max_try_after_ideographic_space", "\u30003"),
    keeps_trying("max_try_after_no_break_space", "\u00a03"),
    # 32-bit limits.
    ping("max_try_largest", "2147483647", "0", 0, ANSWERED, 1),
    keeps_trying("max_try_one_past_the_largest", "2147483648"),
    keeps_trying("max_try_lowest", "-2147483648"),
    keeps_trying("max_try_one_below_the_lowest", "-2147483649"),
    keeps_trying("max_try_two_to_the_32_plus_one", "4294967297"),
    keeps_trying("max_try_twenty_digits", "99999999999999999999"),
    keeps_trying("max_try_minus_one", "-1"),
    reads_three("max_try_with_leading_zeros", "000000000000000000003"),
    ping("no_pause_after_the_last_try", "1", "2147483647", 1, GAVE_UP, 0),
    ping("largest_interval_unused_when_answered", "1", "2147483647", 0, ANSWERED, 1),
    keeps_trying("interval_one_past_the_largest_pauses_zero", "0", "2147483648"),
    keeps_trying("interval_lowest_pauses_zero", "0", "-2147483648"),
    keeps_trying("interval_two_to_the_32_pauses_zero", "0", "4294967296"),
    # Empty and white-space-only numbers read as 0.
    keeps_trying("max_try_empty", ""),
    keeps_trying("max_try_white_space_only", " \t\n\v\f\r"),
    keeps_trying("max_try_sign_only", "+"),
    keeps_trying("interval_empty", "0", ""),
    keeps_trying("interval_white_space_only", "0", "   "),
    reads_three("max_try_surrounded_by_white_space", " \t3 \n"),
    # A file name is never handed to a shell: the substitutions stay part of the name, and
    # the file they would have made in the server's folder is not there.
    Case("dump_name_with_shell_syntax",
         [Step(["-dump", SHELL_NAME], DUMPED), Step(["-reload", SHELL_RAN], failed("Reload", -8))],
         journal=[admin("dump", 0, SHELL_NAME), admin("reload", -8, SHELL_RAN)],
         files=[SHELL_NAME]),
    dump_name("dump_name_with_control_characters", "{dir}/a\tb\x1bc\x7f.bin",
              "{dir}/a\tb\x1bc\x7f.bin", "{dir}/a\\x09b\\x1bc\\x7f.bin"),
]


class HostileNativeTarget(e2e.NativeTarget):
    """Reports an argument vector that exec itself refuses instead of raising."""

    def run(self, args, env):
        try:
            return super().run(args, env)
        except OSError as error:
            if error.errno != errno.E2BIG:
                raise
            return EXEC_REFUSED, b"", None


if __name__ == "__main__":
    runner.exit_with(lambda: e2e.main(HOSTILE_CASES, {"native": HostileNativeTarget}))
