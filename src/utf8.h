#ifndef ZEBCMD_UTF8_H
#define ZEBCMD_UTF8_H

#include <string>
#include <string_view>

namespace zebcmd {

// Decodes UTF-8 into UTF-16: characters beyond the BMP become surrogate pairs and each
// maximal invalid subsequence becomes one U+FFFD.
std::u16string decode_utf8(std::string_view text);

}  // namespace zebcmd

#endif
