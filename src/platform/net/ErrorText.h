#pragma once
// The error texts the socket kinds share: their own negative codes come with
// their own texts, a positive code is an errno.
#include <cstddef>

// Writes `own_text` when it is not null, otherwise the system's text for the
// errno `code`, or "unknown error code N" when the system has none; cut to
// buf_size bytes with the terminating zero.
void format_socket_error(int code, const char* own_text, char* buf, std::size_t buf_size);
