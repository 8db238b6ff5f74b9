#include "fakes.h"
#include "platform.h"

namespace zebcmd::platform {

void debug_message(const std::string& text) {
  fake::events.push_back("message|" + text);
}

void pause(std::uint32_t milliseconds) {
  fake::events.push_back("pause|" + std::to_string(milliseconds));
}

}  // namespace zebcmd::platform
