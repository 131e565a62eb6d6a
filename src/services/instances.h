// Running instances of one application: the block they share, their registration, the owner,
// and messages of bytes between them in chunks through the block's single chunk area.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace vxo {

constexpr int kMaxListedInstances = 250;
constexpr int kChunkBytes = 1024;
// The largest message an instance sends or assembles (tag included).
constexpr std::size_t kMaxMessageBytes = std::size_t{64} << 20;
// Outgoing messages queued at once, in bytes: a sender waits for room beyond this (a message
// alone in the queue may be larger), so its memory stays within it plus the message in hand.
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;
// Incoming bytes held at once, partial messages and complete ones waiting for the receiver: past
// this the messaging thread takes no more chunks until the receiver catches up.
constexpr std::size_t kMaxReceivedBytes = std::size_t{128} << 20;

// The block every instance maps, zero-filled when first created. The fields up to
// `instancePids` are the published layout; `claimant` and `servingPids` live in the block's
// otherwise unused tail. Integers little-endian; every field is read and written atomically.
//
// `busy` 1 with `claimant` 0 is a claim made by a copy that follows the published procedure
// alone (an older build, or another program of the appid): never wiped, consumed when it is for
// this process, and a claim here also needs `busy` 0.
struct InstanceBlock {
    std::uint32_t ownerPid;
    std::int32_t nextMessageId;
    std::int32_t nextChunkSeq;
    std::uint8_t reserved[4];
    std::uint64_t ownerMutex;
    std::uint64_t ownerEvent;
    std::int32_t generation;
    std::uint32_t chunkSender;
    // chunkDest and chunkSeq together name one filled chunk: taking or dropping a chunk swaps
    // the pair, so a chunk that was replaced meanwhile is never taken for the one looked at.
    union {
        struct {
            std::uint32_t chunkDest;
            std::int32_t chunkSeq;
        };
        std::uint64_t chunkTicket;
    };
    std::int32_t busy;
    std::int32_t retries;
    std::uint32_t messageId;
    std::int32_t chunkIndex;
    std::int32_t lastChunkIndex;
    std::int32_t chunkSize;
    std::uint32_t totalLength;
    std::int32_t chunkLength;
    std::uint8_t chunkData[kChunkBytes];
    std::int32_t instanceCount;
    std::uint32_t instancePids[kMaxListedInstances];
    // The pid that holds the chunk area from its claim until the chunk is consumed or dropped;
    // 0 while the area is free. Claimed by compare-and-swap, so two claimants never share it.
    std::uint32_t claimant;
    // Instances whose messaging thread runs: a chunk for one of them is waited for, not dropped.
    std::uint32_t servingPids[kMaxListedInstances];
    // The (chunkDest, chunkSeq) ticket of the last chunk dropped rather than consumed, written
    // before the area is freed, so that its sender learns the message did not arrive.
    std::uint64_t droppedTicket;
};

// A message as it reaches the receiving side.
struct ReceivedMessage {
    std::uint32_t senderPid = 0;
    std::vector<std::uint8_t> bytes;
};

// One per process, over the block, for the life of the entry function.
class InstanceManager {
public:
    using Sink = std::function<void(ReceivedMessage&&)>;

    // Registers this process. A missing or short block gets a private one; a null sync the
    // system's.
    InstanceManager(std::uint8_t* block, std::size_t size,
                    std::unique_ptr<platform::InstanceSync> sync = nullptr);
    ~InstanceManager();
    InstanceManager(const InstanceManager&) = delete;
    InstanceManager& operator=(const InstanceManager&) = delete;

    std::uint32_t OwnPid() const { return ownPid_; }
    std::uint32_t OwnerPid() const;
    // Prunes, then the owner followed by the listed instances in table order.
    std::vector<std::uint32_t> Instances();
    // Queues a payload for `destPid` (0: the owner), waiting up to `waitMs` for room in the
    // queue (kMaxQueuedBytes); false when it cannot be sent or found no room in time.
    bool Enqueue(std::uint32_t destPid, std::vector<std::uint8_t> payload, std::uint32_t waitMs = 0);
    bool QueueEmpty() const;
    // Waits up to `waitMs` until every queued message has left and its last chunk was taken or
    // dropped. True when that happened and no message was dropped since the previous Flush.
    bool Flush(std::uint32_t waitMs);
    // Messages to other instances dropped so far because their destination did not take them.
    std::uint64_t DroppedCount() const { return dropped_.load(); }
    // Starts the messaging thread once, and a dispatch thread that hands every complete message
    // to `sink`, in order of arrival: a slow sink never holds up the chunk area.
    bool StartMessaging(Sink sink);
    // Stops and waits (bounded) for the messaging thread, then lets the process's mutex and event
    // go. False when the thread did not stop in time (it is inside the sink): the block must then
    // stay mapped. Idempotent.
    bool Shutdown(std::uint32_t waitMs = 3000);

    // The protocol's steps, public for the tests and the fuzz target.
    void EnsureOwner();
    void PruneInstances();
    // One pass of the messaging loop without waiting: the chunk area looked at, at most one chunk
    // written, a complete message returned when one arrived. A caller that holds complete
    // messages tells how many bytes, which count against kMaxReceivedBytes.
    bool ServiceOnce(ReceivedMessage& completed, std::size_t heldBytes = 0);
    std::size_t PendingCount() const { return pending_.size(); }
    InstanceBlock& block() { return *block_; }

private:
    struct Outgoing {
        std::uint32_t destPid = 0;
        std::vector<std::uint8_t> bytes;
        std::size_t offset = 0;
        std::uint32_t messageId = 0;
    };
    struct Incoming {
        std::uint32_t messageId = 0;
        std::uint32_t senderPid = 0;
        std::int32_t chunksReceived = 0;
        std::int32_t lastChunkIndex = 0;
        std::uint64_t lastProgressMs = 0;
        std::vector<std::uint8_t> bytes;
    };
    // This process's last chunk written, until it is seen taken or dropped.
    struct InFlight {
        bool active = false;
        std::uint64_t ticket = 0;
        std::uint32_t destPid = 0;
        std::uint32_t messageId = 0;
        std::size_t messageBytes = 0;
        bool last = false;  // the message's last chunk: it has left the queue
    };
    // The filled chunk this process is watching wait for its destination.
    struct Watched {
        std::uint64_t ticket = ~std::uint64_t{0};  // none: a fresh block's first claim is (0, 0)
        std::uint64_t firstSeenMs = 0;
        std::uint64_t checkedMs = 0;
        bool alive = true;
    };

    bool OwnerAlive(std::uint32_t owner);
    void Register();
    void PruneTable();
    void PublishOwnObjects();
    bool TryClaimArea();
    void WriteChunk();
    bool ConsumeChunk(std::uint64_t ticket, ReceivedMessage& completed);
    bool JudgeWaitingChunk(std::uint64_t ticket, bool mine);
    bool Drop(std::uint64_t ticket);
    void SettleInFlight();
    void MessageDropped(std::uint32_t destPid, std::size_t bytes);
    void Dispatching();
    bool FreeAbandonedClaim(std::uint32_t claimant);
    void ReleaseArea();
    void PrunePending();
    void SetServing(bool serving);
    bool IsServing(std::uint32_t pid) const;
    void MessagingLoop();

    std::unique_ptr<std::uint8_t[]> privateBlock_;
    InstanceBlock* block_ = nullptr;
    std::unique_ptr<platform::InstanceSync> sync_;
    std::uint32_t ownPid_ = 0;
    std::uint32_t knownOwnerPid_ = 0;
    Watched ownerChecked_;  // the last liveness answer about the owner; `ticket` holds its pid
    std::uint64_t adoptedMutex_ = 0;
    std::uint64_t adoptedEvent_ = 0;
    std::int32_t lastGeneration_ = 0;

    mutable std::mutex queueLock_;
    std::condition_variable queueChanged_;  // room in the queue, or a message settled
    std::deque<Outgoing> queue_;
    std::size_t queuedBytes_ = 0;
    InFlight inFlight_;  // written by the messaging thread; `active` read under queueLock_
    std::map<std::uint32_t, bool> deaf_;  // destinations that left a chunk of ours untaken
    std::atomic<std::uint64_t> dropped_{0};
    std::uint64_t droppedAtFlush_ = 0;
    std::vector<Incoming> pending_;
    std::size_t pendingBytes_ = 0;
    std::uint64_t pendingCheckedMs_ = 0;
    Watched watched_;

    Sink sink_;
    std::thread thread_;
    std::thread dispatcher_;
    std::mutex inboxLock_;
    std::condition_variable inboxChanged_;
    std::deque<ReceivedMessage> inbox_;  // complete messages for the sink, in order
    std::atomic<std::size_t> inboxBytes_{0};
    std::mutex stateLock_;
    std::condition_variable stopped_;
    bool threadDone_ = false;
    bool dispatcherDone_ = false;
    std::atomic<bool> running_{true};
    bool started_ = false;
    bool shutDown_ = false;
    bool closed_ = false;
};

}  // namespace vxo
