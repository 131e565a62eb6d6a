// A running instance without a Java runtime, driven line by line from standard input; what it
// receives is reported on standard output. Built for both targets, so the instance protocol is
// exercised across real processes under Wine as on Linux.
//   instance_peer [APPID]          the program file's own block, or the appid's
// Commands: self | first | list | send DEST SIZE | fill | die | quit
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
    manager.StartMessaging([](ReceivedMessage&& message) {
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
                bool queued = manager.Enqueue(static_cast<std::uint32_t>(dest), Payload(size));
                Say(queued ? "sent " + std::to_string(Hash(Payload(size))) : "refused");
            }
        } else if (command == "fill") {
            // The table full of a live process: the next instance to start finds no place.
            for (std::uint32_t& slot : manager.block().instancePids) slot = manager.OwnPid();
            manager.block().instanceCount = kMaxListedInstances;
            Say("filled");
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
