#include "helper_output.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace lumory::audio {

WriteResult Output::write(std::span<const std::byte> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            lastError_ = errno;
            return errno == EPIPE ? WriteResult::readerGone : WriteResult::failed;
        }
        done += static_cast<std::size_t>(n);
    }
    return WriteResult::written;
}

WriteResult Output::write(std::string_view text) {
    return write(std::as_bytes(std::span(text.data(), text.size())));
}

void emit(Output& out, std::string_view line) {
    std::string text(line);
    text.push_back('\n');
    out.write(text);
}

int fail(Output& err, std::string_view message) {
    emit(err, message);
    return 1;
}

}  // namespace lumory::audio
