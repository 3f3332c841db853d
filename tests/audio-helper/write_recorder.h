#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lumory::audio::testing {

// Stands in for a standard stream and keeps each write separate: a packet socket hands every
// write to the reader as one packet, which a pipe would merge.
class WriteRecorder {
public:
    WriteRecorder() {
        if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds_) != 0) fds_[0] = fds_[1] = -1;
        fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    ~WriteRecorder() {
        for (int fd : fds_) {
            if (fd >= 0) close(fd);
        }
    }
    WriteRecorder(const WriteRecorder&) = delete;
    WriteRecorder& operator=(const WriteRecorder&) = delete;

    int writeEnd() const { return fds_[1]; }
    void closeReader() {
        close(fds_[0]);
        fds_[0] = -1;
    }

    // The writes so far, each as it was made; drains them.
    std::vector<std::string> writes() {
        std::vector<std::string> result;
        std::vector<char> buffer(1 << 20);
        for (;;) {
            ssize_t n = recv(fds_[0], buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            result.emplace_back(buffer.data(), static_cast<size_t>(n));
        }
        return result;
    }

    std::string all() {
        std::string text;
        for (const std::string& w : writes()) text += w;
        return text;
    }

private:
    int fds_[2] = {-1, -1};
};

inline std::vector<std::byte> floatBytes(const std::vector<float>& values) {
    std::vector<std::byte> bytes(values.size() * sizeof(float));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

inline std::vector<std::int16_t> samplesOf(const std::string& write) {
    std::vector<std::int16_t> samples(write.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        auto lo = static_cast<std::uint8_t>(write[2 * i]);
        auto hi = static_cast<std::uint8_t>(write[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(lo | (hi << 8));
    }
    return samples;
}

}  // namespace lumory::audio::testing
