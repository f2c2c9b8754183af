#include "platform/console.h"

#include "platform/Assert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

console* console::active_console = nullptr;

namespace {
// The console that exists from start-up on; static initialisation makes it
// the active one before main runs.
struct DefaultConsole : console {
    DefaultConsole() : console(DefaultTag{}) {}
};
DefaultConsole defaultConsole;
}  // namespace

console::console(DefaultTag) : isDefault_(true) {
    if (active_console == nullptr) active_console = this;
}

console::console() {
    if (active_console == nullptr || active_console->isDefault_) active_console = this;
}

console::~console() {
    if (active_console == this) active_console = isDefault_ ? nullptr : &defaultConsole;
}

void console::output_data(int /*channel*/, const char* format, va_list args) {
    std::vprintf(format, args);
    std::fflush(stdout);
}

int console::input_data(char* buffer, size_t size) {
    if (size == 0) return 0;
    if (std::fgets(buffer, static_cast<int>(size), stdin) == nullptr) return 0;
    // Hand back the line without its line end.
    buffer[std::strcspn(buffer, "\n")] = '\0';
    return 1;
}

void console::output(const char* format, ...) {
    SCPN_ASSERT(active_console != NULL, "src/console");
    va_list args;
    va_start(args, format);
    active_console->output_data(0, format, args);
    va_end(args);
}

void console::error(const char* format, ...) {
    SCPN_ASSERT(active_console != NULL, "src/console");
    va_list args;
    va_start(args, format);
    active_console->output_data(1, format, args);
    va_end(args);
    std::abort();
}

int console::input(char* buffer, size_t size) {
    SCPN_ASSERT(active_console != NULL, "src/console");
    return active_console->input_data(buffer, size);
}
