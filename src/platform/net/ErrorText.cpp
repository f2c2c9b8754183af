#include "platform/net/ErrorText.h"

#include <cstdio>
#include <cstring>

void format_socket_error(int code, const char* own_text, char* buf, std::size_t buf_size) {
    if (buf == nullptr || buf_size == 0) return;
    if (own_text != nullptr) {
        std::snprintf(buf, buf_size, "%s", own_text);
    } else if (code > 0 && strerrordesc_np(code) != nullptr) {
        // strerrordesc_np tells an errno the system knows from one it has no
        // text for (strerror would make up "Unknown error N"); strerror_r
        // then gives the text in the program's language.
        char local[256];
        std::snprintf(buf, buf_size, "%s", strerror_r(code, local, sizeof local));
    } else {
        std::snprintf(buf, buf_size, "unknown error code %u", static_cast<unsigned>(code));
    }
}
