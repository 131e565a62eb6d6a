// A running instance without a Java runtime, driven line by line from standard input; what it
// receives is reported on standard output. Built for both targets, so the instance protocol is
// exercised across real processes under Wine as on Linux.
//   instance_peer [--published] [APPID]   the program file's own block, or the appid's
// Commands: self | first | list | send DEST SIZE | fill | die | quit | exit CODE | cpu
//           echo             from now on, what arrives goes back to its sender
//           ping DEST N SIZE N round trips of SIZE bytes to an echoing DEST: "ping MICROSECONDS"
// --published: chunks go and come by the bare block procedure (claim by `busy` under the shared
// mutex, no `claimant`), as an older build or another program of the appid does; it needs a
// running owner. "send DEST SIZE HOLDMS" keeps its first claim empty that long and reports
// whether the area stayed untouched ("sent HASH intact|broken").
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

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

// This process's processor time so far, in milliseconds.
long long CpuMs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& t) { return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;
#else
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
#endif
}

template <typename T>
T Get(const T& field) { return __atomic_load_n(&field, __ATOMIC_ACQUIRE); }
template <typename T>
void Put(T& field, T value) { __atomic_store_n(&field, value, __ATOMIC_RELEASE); }

// The bare block procedure, without anything this launcher adds to it.
class PublishedCopy {
public:
    PublishedCopy(vxo::InstanceBlock& block, std::uint32_t ownPid)
        : block_(block), ownPid_(ownPid), sync_(vxo::platform::NewInstanceSync(
                                              reinterpret_cast<std::uint8_t*>(&block), &block.generation)) {
        sync_->WatchOwner(Get(block_.ownerPid));
        ready_ = Get(block_.ownerPid) != ownPid_ &&
                 sync_->AdoptObjects(Get(block_.ownerMutex), Get(block_.ownerEvent));
        if (ready_) reader_ = std::thread([this] { Read(); });
    }
    ~PublishedCopy() {
        running_ = false;
        sync_->Interrupt();
        if (reader_.joinable()) reader_.join();
    }
    bool ready() const { return ready_; }

    // Writes the message chunk by chunk; false when the area stayed taken for 10 s.
    bool Send(std::uint32_t dest, const std::vector<std::uint8_t>& bytes, int holdMs, bool& intact) {
        const std::int32_t id = __atomic_fetch_add(&block_.nextMessageId, 1, __ATOMIC_ACQ_REL);
        const std::int32_t last = static_cast<std::int32_t>((bytes.size() - 1) / vxo::kChunkBytes);
        for (std::int32_t index = 0; index <= last; ++index) {
            if (!Claim()) return false;
            if (index == 0 && holdMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
                intact = Get(block_.busy) == 1 && Get(block_.chunkDest) == 0u && Get(block_.claimant) == 0u;
            }
            const std::size_t offset = static_cast<std::size_t>(index) * vxo::kChunkBytes;
            const std::size_t length = std::min<std::size_t>(vxo::kChunkBytes, bytes.size() - offset);
            Put(block_.chunkSender, ownPid_);
            Put(block_.chunkSize, vxo::kChunkBytes);
            Put(block_.messageId, static_cast<std::uint32_t>(id));
            Put(block_.chunkSeq, __atomic_fetch_add(&block_.nextChunkSeq, 1, __ATOMIC_ACQ_REL));
            Put(block_.totalLength, static_cast<std::uint32_t>(bytes.size()));
            Put(block_.lastChunkIndex, last);
            Put(block_.chunkIndex, index);
            Put(block_.chunkLength, static_cast<std::int32_t>(length));
            Put(block_.retries, 0);
            std::memcpy(block_.chunkData, bytes.data() + offset, length);
            Put(block_.chunkDest, dest);
            sync_->Pulse();
        }
        return true;
    }

private:
    bool Claim() {
        for (int tries = 0; tries < 1000; ++tries) {
            if (Get(block_.busy) == 0) {
                const std::uintptr_t token = sync_->Lock(1000);
                bool claimed = false;
                if (token != 0 && Get(block_.busy) == 0) {
                    Put(block_.chunkDest, 0u);
                    Put(block_.busy, 1);
                    claimed = true;
                }
                if (token != 0) sync_->Unlock(token);
                if (claimed) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Takes the chunks addressed to this process; a message is reported once whole.
    void Read() {
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::uint8_t>> pending;
        while (running_) {
            const std::int32_t seen = Get(block_.generation);
            if (Get(block_.busy) == 1 && Get(block_.chunkDest) == ownPid_) {
                const std::uint32_t sender = Get(block_.chunkSender);
                const std::int32_t index = Get(block_.chunkIndex);
                const std::int32_t last = Get(block_.lastChunkIndex);
                const std::int32_t length = std::min<std::int32_t>(Get(block_.chunkLength), vxo::kChunkBytes);
                const std::pair<std::uint32_t, std::uint32_t> key{sender, Get(block_.messageId)};
                auto& bytes = pending[key];
                if (index == 0) bytes.clear();
                if (length > 0) bytes.insert(bytes.end(), block_.chunkData, block_.chunkData + length);
                Put(block_.busy, 0);
                sync_->Pulse();
                if (index == last) {
                    Say("recv " + std::to_string(sender) + " " + std::to_string(bytes.size()) + " " +
                        std::to_string(Hash(bytes)));
                    pending.erase(key);
                }
                continue;
            }
            sync_->Wait(seen, 20);
        }
    }

    vxo::InstanceBlock& block_;
    std::uint32_t ownPid_;
    std::unique_ptr<vxo::platform::InstanceSync> sync_;
    std::atomic<bool> running_{true};
    bool ready_ = false;
    std::thread reader_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace vxo;
    const bool published = argc > 1 && std::string(argv[1]) == "--published";
    const std::string appId = argc > 1 + published ? argv[1 + published] : "";
    platform::SharedBlock block =
        platform::SharedBlock::Open(InstanceBlockName(appId, platform::ModuleFileName()));
    InstanceManager manager(block.data(), block.size());
    InstanceManager* self = &manager;
    std::unique_ptr<PublishedCopy> copy;
    if (published) {
        copy = std::make_unique<PublishedCopy>(manager.block(), manager.OwnPid());
        if (!copy->ready()) {
            Say("no owner to meet");
            return 2;
        }
    } else manager.StartMessaging([self](ReceivedMessage&& message) {
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
            int holdMs = 0;
            if (std::sscanf(line.c_str(), "send %lu %lu %d", &dest, &size, &holdMs) >= 2) {
                std::vector<std::uint8_t> payload = Payload(size);
                const std::uint32_t hash = Hash(payload);
                if (copy) {
                    bool intact = true;
                    const bool sent = size > 0 && copy->Send(static_cast<std::uint32_t>(dest), payload, holdMs, intact);
                    Say(sent ? "sent " + std::to_string(hash) + (intact ? " intact" : " broken") : "refused");
                    continue;
                }
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
        } else if (command == "cpu") {
            Say("cpu " + std::to_string(CpuMs()));
        } else if (command == "exit") {
            std::_Exit(std::atoi(line.c_str() + space + 1));  // no clean-up, with that exit code
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
