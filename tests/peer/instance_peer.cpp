// A running instance without a Java runtime, driven line by line from standard input; what it
// receives is reported on standard output. Built for both targets, so the instance protocol is
// exercised across real processes under Wine as on Linux.
//   instance_peer [APPID]          the program file's own block, or the appid's
// Commands: self | first | list | send DEST SIZE | fill | die | quit
//           echo             from now on, what arrives goes back to its sender
//           ping DEST N SIZE N round trips of SIZE bytes to an echoing DEST: "ping MICROSECONDS"
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "launcher/entry.h"
#include "platform/platform.h"
#include "services/instances.h"

namespace {

std::mutex outputLock;

// Replies a ping waits for.
std::mutex replyLock;
std::condition_variable replied;
int replies = 0;
bool pinging = false;
bool echoing = false;

void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(outputLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The bytes a payload of `size` holds, the same for every sender.
std::vector<std::uint8_t> Payload(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 1024 + 7);
    return bytes;
}

std::uint32_t Hash(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t hash = 2166136261u;
    for (std::uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
    return hash;
}

std::string List(const std::vector<std::uint32_t>& pids) {
    std::string text;
    for (std::uint32_t pid : pids) text += (text.empty() ? "" : ",") + std::to_string(pid);
    return "[" + text + "]";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vxo;
    const std::string appId = argc > 1 ? argv[1] : "";
    platform::SharedBlock block =
        platform::SharedBlock::Open(InstanceBlockName(appId, platform::ModuleFileName()));
    InstanceManager manager(block.data(), block.size());
    InstanceManager* self = &manager;
    manager.StartMessaging([self](ReceivedMessage&& message) {
        {
            std::lock_guard<std::mutex> lock(replyLock);
            if (echoing) {
                self->Enqueue(message.senderPid, std::move(message.bytes));
                return;
            }
            if (pinging) {
                ++replies;
                replied.notify_all();
                return;
            }
        }
        Say("recv " + std::to_string(message.senderPid) + " " + std::to_string(message.bytes.size()) + " " +
            std::to_string(Hash(message.bytes)));
    });
    Say("ready " + std::to_string(manager.OwnPid()) + (block.shared() ? " shared" : " private"));
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        if (command == "self") {
            Say("self " + std::to_string(manager.OwnPid()));
        } else if (command == "first") {
            Say("first " + std::to_string(manager.OwnerPid()));
        } else if (command == "list") {
            Say("list " + List(manager.Instances()));
        } else if (command == "send") {
            unsigned long dest = 0;
            unsigned long size = 0;
            if (std::sscanf(line.c_str(), "send %lu %lu", &dest, &size) == 2) {
                std::vector<std::uint8_t> payload = Payload(size);
                const std::uint32_t hash = Hash(payload);
                bool queued = manager.Enqueue(static_cast<std::uint32_t>(dest), std::move(payload));
                Say(queued ? "sent " + std::to_string(hash) : "refused");
            }
        } else if (command == "fill") {
            // The table full of a live process: the next instance to start finds no place.
            for (std::uint32_t& slot : manager.block().instancePids) slot = manager.OwnPid();
            manager.block().instanceCount = kMaxListedInstances;
            Say("filled");
        } else if (command == "echo") {
            std::lock_guard<std::mutex> lock(replyLock);
            echoing = true;
            Say("echo");
        } else if (command == "ping") {
            unsigned long dest = 0, count = 0, size = 0;
            if (std::sscanf(line.c_str(), "ping %lu %lu %lu", &dest, &count, &size) != 3 || count == 0) continue;
            {
                std::lock_guard<std::mutex> lock(replyLock);
                pinging = true;
                replies = 0;
            }
            const auto start = std::chrono::steady_clock::now();
            bool lost = false;
            for (unsigned long i = 0; i < count && !lost; ++i) {
                manager.Enqueue(static_cast<std::uint32_t>(dest), Payload(size));
                std::unique_lock<std::mutex> lock(replyLock);
                lost = !replied.wait_for(lock, std::chrono::seconds(30), [&] { return replies > static_cast<int>(i); });
            }
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start).count();
            {
                std::lock_guard<std::mutex> lock(replyLock);
                pinging = false;
            }
            Say(lost ? std::string("ping lost") : "ping " + std::to_string(micros / static_cast<long long>(count)));
        } else if (command == "die") {
            std::_Exit(9);  // no clean-up at all, as when the process is killed
        } else if (command == "quit") {
            break;
        }
    }
    manager.Shutdown();
    Say("bye");
    return 0;
}
