#!/usr/bin/env python3
"""Command lines only Windows has: the tool splits its own command line, so these cases give
the raw text after the program path and check how it was split, through the file name the
server journals (escaped there: backslash and quote get a backslash) or the command chosen.
Through the companion, the tail reaches ZEBCmd.exe as the companion passes it on.
"""

import e2e
import runner
from cases import ANSWERED, STOPPED, UNKNOWN, admin, dumped, failed, one, versions
from runner.wine import CompanionTarget, WineTarget


def tail(name, text, messages, status=0, **kwargs):
    return one(name, [text], messages, status, **kwargs)


WINDOWS_CASES = [
    tail("quoted_empty_word", '""', UNKNOWN),
    tail("upper_case_word", "-STOP", UNKNOWN),
    tail("mixed_case_word", "-Ping 1 0", UNKNOWN),
    tail("word_quoted_in_part", '-st"op"', STOPPED,
         journal=[admin("stop")], server_exits=True),
    tail("tab_and_runs_of_spaces", "-ping\t 1   0", ANSWERED, 1,
         journal=[versions()]),
    tail("dump_quoted_empty_name", '-dump ""', failed("Dump", -7),
         journal=[admin("dump", -7)]),
    tail("dump_two_quoted_empty_names", '-dump "" ""',
         [b"Dump command failed: input param error\n"]),
    dumped("dump_quoted_name_with_spaces", ['-dump "{dir}/my data.bin"'], "{dir}/my data.bin"),
    dumped("dump_name_quoted_in_part", ['-dump {dir}/"my data".bin'], "{dir}/my data.bin"),
    dumped("dump_unterminated_quote", ['-dump "{dir}/open end.bin'], "{dir}/open end.bin"),
    # 2n backslashes before a quote: n backslashes, and the quote ends the quoted part.
    dumped("even_backslashes_before_quote", [r'-dump "{dir}/a\\"'], "{dir}/a\\", r"{dir}/a\\"),
    dumped("four_backslashes_before_quote", [r'-dump {dir}/b\\\\"c d".bin'], r"{dir}/b\\c d.bin",
           r"{dir}/b\\\\c d.bin"),
    # 2n+1 backslashes before a quote: n backslashes and a literal quote.
    dumped("odd_backslashes_before_quote", [r'-dump "{dir}/c\\\" e.bin"'], r'{dir}/c\" e.bin',
           r'{dir}/c\\\" e.bin'),
    dumped("escaped_quote_outside_quotes", [r'-dump {dir}/d\"f.bin'], '{dir}/d"f.bin',
           r'{dir}/d\"f.bin'),
    # Backslashes not before a quote are plain characters.
    dumped("backslashes_not_before_quote", [r"-dump {dir}/e\\g.bin"], r"{dir}/e\\g.bin",
           r"{dir}/e\\\\g.bin"),
]


def raw_tail(target):
    """The target, taking each step's one argument as the raw command-line tail."""

    class RawTail(target):
        def run(self, args, env):
            (text,) = args
            return self.run_tail(text, env)

    return RawTail


if __name__ == "__main__":
    targets = {"wine": raw_tail(WineTarget), "companion": raw_tail(CompanionTarget)}
    runner.exit_with(lambda: e2e.main(WINDOWS_CASES, targets))
