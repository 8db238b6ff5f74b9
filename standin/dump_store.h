// Dump files on disk, named by UTF-8 paths: read whole and checked, written durably in place.
#ifndef ZEB_STANDIN_DUMP_STORE_H
#define ZEB_STANDIN_DUMP_STORE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "dumpfile.h"

namespace zeb::server {

std::int32_t read_dump_file(const std::string& path, dumpfile::Records* records);
std::int32_t write_dump_file(const std::string& path, std::string_view bytes);

}  // namespace zeb::server

#endif
