// Fuzz target: instances over a block holding any bytes at all. The input is the block's first
// bytes; what follows them picks which pids are alive, the clock's steps and what is sent. No
// instance may read or write outside the block or its buffers, loop, or grow without bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "services/instance_world.h"
#include "services/instances.h"

namespace {
constexpr std::size_t kBlockBytes = 2112 + 4 * 250;  // the layout and the tail the core uses
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vxo;
    alignas(64) static std::uint8_t memory[vxo::platform::kInstanceBlockSize];
    std::memset(memory, 0, sizeof memory);
    const std::size_t blockPart = std::min(size, kBlockBytes);
    std::memcpy(memory, data, blockPart);
    data += blockPart;
    size -= blockPart;
    auto next = [&]() -> std::uint8_t {
        if (size == 0) return 0;
        --size;
        return *data++;
    };

    test::InstanceWorld world;
    auto* block = reinterpret_cast<InstanceBlock*>(memory);
    world.generation = &block->generation;
    // Pids the block may name: a few small ones are alive, as chosen by the input.
    const std::uint8_t aliveBits = next();
    for (std::uint32_t pid = 1; pid <= 8; ++pid) {
        if (aliveBits & (1u << (pid - 1))) world.alive.insert(pid);
    }
    for (int i = 0; i < 4; ++i) world.alive.insert(block->instancePids[next() % 250]);

    InstanceManager first(memory, sizeof memory, std::make_unique<test::FakeSync>(world, 100));
    InstanceManager second(memory, sizeof memory, std::make_unique<test::FakeSync>(world, 200));
    for (int pass = 0; pass < 24; ++pass) {
        const std::uint8_t op = next();
        InstanceManager& who = (op & 1) ? second : first;
        if (op & 2) {
            const std::uint32_t dest = (op & 4) ? 100 : (op & 8) ? 200 : next();
            who.Enqueue(dest, std::vector<std::uint8_t>(1 + next() * 37u, op));
        }
        if (op & 16) who.Instances();
        if (op & 32) world.now += next() * 100u;
        if (op & 64) block->chunkIndex = next(), block->lastChunkIndex = next();  // another writer
        ReceivedMessage message;
        if (who.ServiceOnce(message) && message.bytes.size() > kMaxMessageBytes) __builtin_trap();
        if (who.PendingCount() > 32) __builtin_trap();
    }
    const int count = block->instanceCount;
    if (count < 0 || count > kMaxListedInstances) __builtin_trap();
    return 0;
}
