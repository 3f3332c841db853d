// A soak run of the helper: one process, a million mixed requests with random ids (status,
// calendars, events, reminders, unknown commands, lines that are no JSON), written while the
// replies are read. Every reply must match a request, none may be lost when input closes, and
// resident memory at the start and at the end is printed (aim: under 10 % growth).
//   calendar_soak_bench [REQUESTS]          runs itself inside a private EDS

#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "bench_support.h"

namespace {

using namespace std::chrono;
using lumory::testsupport::LineProtocolProcess;
using nlohmann::json;

struct Request {
    std::string line;
    std::string id;  // empty: a line that gets a reply without an id
};

std::vector<Request> makeRequests(int count) {
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<int> kind(0, 99);
    std::unordered_set<std::string> used;
    std::vector<Request> requests;
    requests.reserve(count);
    for (int n = 0; n < count; ++n) {
        std::string id;
        do {
            id = std::to_string(random());
        } while (!used.insert(id).second);
        const int k = kind(random);
        // Ids travel as strings or numbers; both must come back unchanged.
        const std::string idJson = k % 2 == 0 ? "\"" + id + "\"" : id;
        std::string line;
        if (k < 40) {
            line = R"({"cmd":"status","id":)" + idJson + "}";
        } else if (k < 55) {
            line = R"({"cmd":"reminders-status","id":)" + idJson + "}";
        } else if (k < 70) {
            line = R"({"cmd":"calendars","id":)" + idJson + "}";
        } else if (k < 85) {
            line = R"({"cmd":"events","from":"2030-06-10","to":"2030-06-11","id":)" + idJson + "}";
        } else if (k < 90) {
            line =
                R"({"cmd":"reminders","from":"2030-06-10T00:00:00Z","to":"2030-06-11T00:00:00Z","id":)" +
                idJson + "}";
        } else if (k < 95) {
            line = R"({"cmd":"frobnicate","id":)" + idJson + "}";
        } else {
            line = "not json " + id;
            id.clear();
        }
        requests.push_back({std::move(line), id});
    }
    return requests;
}

int soak(int count) {
    const auto requests = makeRequests(count);
    std::unordered_set<std::string> waiting;
    size_t anonymous = 0;
    for (const auto& request : requests) {
        if (request.id.empty())
            ++anonymous;
        else
            waiting.insert(request.id);
    }

    LineProtocolProcess helper({LUMORY_CAL_PATH}, {"LUMORY_DESKTOP=1"});
    if (!helper.readLine(60s)) return 1;
    const double startRss = lumory::bench::processMemoryMiB(helper.pid(), "VmRSS");
    const auto started = steady_clock::now();
    std::thread writer([&] {
        std::string batch;
        for (const auto& request : requests) {
            batch += request.line;
            batch += '\n';
            if (batch.size() > (256u << 10)) {
                helper.writeRaw(batch);
                batch.clear();
            }
        }
        helper.writeRaw(batch);
        // Input closes at once after the last request: its replies must still come.
        helper.closeInput();
    });

    size_t matched = 0, unexpected = 0, badJson = 0, errors = 0, lines = 0;
    double midRss = 0, endRss = -1;
    size_t endRssAt = 0;
    while (auto line = helper.readLine(300s)) {
        ++lines;
        json reply = json::parse(*line, nullptr, false);
        if (reply.is_object() && reply.contains("event") && !reply.contains("id")) continue;
        if (!reply.is_object() || !reply.contains("id")) {
            if (reply.is_object() && reply.value("error", "") == "bad JSON")
                ++badJson;
            else
                ++unexpected;
            continue;
        }
        const json& id = reply["id"];
        std::string key = id.is_string() ? id.get<std::string>() : id.dump();
        if (waiting.erase(key) == 1)
            ++matched;
        else
            ++unexpected;
        if (reply.contains("error")) ++errors;
        if (matched == (requests.size() - anonymous) / 2)
            midRss = lumory::bench::processMemoryMiB(helper.pid(), "VmRSS");
        // Sampled as it goes: the helper ends right after its last reply, input being closed.
        if (lines % 1000 == 0) {
            const double rss = lumory::bench::processMemoryMiB(helper.pid(), "VmRSS");
            if (rss > 0) {
                endRss = rss;
                endRssAt = lines;
            }
        }
        if (waiting.empty() && badJson == anonymous) break;
    }
    const double seconds = lumory::bench::millisecondsSince(started) / 1000;
    writer.join();
    auto status = helper.waitForExit(150s);

    std::printf("soak: %d requests through one helper in %.1f s (%.0f per second)\n", count,
                seconds, count / seconds);
    std::printf("  replies matched to their id  %zu of %zu\n", matched,
                requests.size() - anonymous);
    std::printf("  bad JSON answered             %zu of %zu\n", badJson, anonymous);
    std::printf("  replies matching no request   %zu\n", unexpected);
    std::printf("  error replies (unknown cmd)   %zu\n", errors);
    std::printf(
        "  resident memory, MiB          start %.1f  halfway %.1f  end %.1f (after %zu "
        "replies)  %+.1f %%\n",
        startRss, midRss, endRss, endRssAt, 100.0 * (endRss - startRss) / startRss);
    std::printf("  exit status after input closed %d\n", status.value_or(-1));
    const bool ok = waiting.empty() && unexpected == 0 && badJson == anonymous && status == 0;
    std::printf("  %s\n", ok ? "every reply matched" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    int count = 1'000'000;
    bool inSession = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--in-session") == 0)
            inSession = true;
        else
            count = std::max(1000, std::atoi(argv[i]));
    }
    if (!inSession)
        return lumory::bench::runInSession(
                   LUMORY_EDS_SESSION,
                   {lumory::bench::selfPath(), "--in-session", std::to_string(count)}, 3600s)
                   ? 0
                   : 1;
    return soak(count);
}
