// The instance protocol, driven pass by pass: several managers over one block in this process.
#include "services/instances.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "services/instance_world.h"

namespace vxo {
namespace {

using test::FakeSync;
using test::InstanceWorld;

class InstancesTest : public ::testing::Test {
protected:
    struct Node {
        FakeSync* sync;
        std::unique_ptr<InstanceManager> manager;
        std::vector<ReceivedMessage> inbox;
        std::size_t held = 0;  // received bytes its receiver has not handled yet
    };

    InstancesTest() { world_.generation = &Block().generation; }

    InstanceBlock& Block() { return *reinterpret_cast<InstanceBlock*>(memory_); }

    Node& Start(std::uint32_t pid) {
        auto sync = std::make_unique<FakeSync>(world_, pid);
        FakeSync* raw = sync.get();
        nodes_.push_back(std::make_unique<Node>(
            Node{raw, std::make_unique<InstanceManager>(memory_, sizeof memory_, std::move(sync)), {}, 0}));
        return *nodes_.back();
    }

    // Time passes with a death, as it does outside: liveness answers are reused for a moment.
    void Kill(Node& node) {
        world_.alive.erase(node.manager->OwnPid());
        world_.now += 50;
    }
    bool Alive(const Node& node) const { return world_.alive.count(node.manager->OwnPid()) != 0; }
    void Serve(std::uint32_t pid) {
        for (std::uint32_t& slot : Block().servingPids) {
            if (slot == 0) {
                slot = pid;
                return;
            }
        }
    }

    // Lets every live node take passes until a whole round changes nothing (bounded).
    void Pump(const std::vector<Node*>& only = {}) {
        for (int round = 0; round < 20000; ++round) {
            const std::int32_t before = Block().generation;
            for (auto& node : nodes_) {
                if (!Alive(*node) || (!only.empty() && std::find(only.begin(), only.end(), node.get()) == only.end()))
                    continue;
                ReceivedMessage message;
                if (node->manager->ServiceOnce(message, node->held)) node->inbox.push_back(std::move(message));
            }
            if (Block().generation == before) return;
        }
        FAIL() << "the instances never settled";
    }

    static std::vector<std::uint8_t> Payload(std::size_t size, std::uint8_t seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 1024);
        return bytes;
    }

    alignas(64) std::uint8_t memory_[platform::kInstanceBlockSize] = {};
    InstanceWorld world_;
    std::vector<std::unique_ptr<Node>> nodes_;
};

TEST_F(InstancesTest, PayloadsArriveWholeWithTheirSender) {
    Node& owner = Start(100);
    Node& other = Start(200);
    const struct {
        std::size_t size;
        Node* from;
        Node* to;
        std::uint32_t address;  // 0: the owner
    } cases[] = {
        {1, &other, &owner, 0},           {1024, &owner, &other, 200},    {1025, &other, &owner, 100},
        {100000, &owner, &other, 200},    {1 << 20, &other, &owner, 0},   {3000, &other, &other, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        c.to->inbox.clear();
        const std::int32_t firstSeq = Block().nextChunkSeq;
        const std::vector<std::uint8_t> payload = Payload(c.size, static_cast<std::uint8_t>(c.size));
        ASSERT_TRUE(c.from->manager->Enqueue(c.address, payload));
        Pump();
        ASSERT_EQ(c.to->inbox.size(), 1u);
        EXPECT_EQ(c.to->inbox[0].senderPid, c.from->manager->OwnPid());
        EXPECT_TRUE(c.to->inbox[0].bytes == payload);
        EXPECT_EQ(Block().nextChunkSeq - firstSeq, static_cast<std::int32_t>((c.size + 1023) / 1024));
        EXPECT_TRUE(c.from->manager->QueueEmpty());
        EXPECT_EQ(Block().claimant, 0u);
        EXPECT_EQ(Block().busy, 0);
    }
    EXPECT_FALSE(owner.manager->Enqueue(200, {}));
    EXPECT_FALSE(owner.manager->Enqueue(200, std::vector<std::uint8_t>(kMaxMessageBytes + 1)));
}

TEST_F(InstancesTest, AChunkHoldsTheAreaAboutASecondPerMessageAtMost) {
    // Two messages to 20: 2048 bytes (two chunks), then 100. `judge` takes passes after the wait.
    enum Judge { kSender, kOther, kReceiverWithRoom, kReceiverFull };
    const struct {
        const char* what;
        bool alive;
        bool serving;
        Judge judge;
        std::uint64_t waitedMs;
        std::uint64_t dropped;  // messages the sender counts as dropped
        char area;  // then: 'F' the first chunk waits, 'P' the second message's, '-' free, 'D' all delivered
    } cases[] = {
        {"gone: both messages go at once", false, true, kSender, 0, 2, '-'},
        {"stopped, briefly", true, true, kSender, 900, 0, 'F'},
        {"stopped for a second: the rest goes, the next gets a short probe", true, true, kSender, 1000, 2, '-'},
        {"no messaging thread, a second", true, false, kSender, 1000, 2, '-'},
        {"the sender stalled too: others wait while the receiver may take it", true, true, kOther, 2900, 0, 'F'},
        {"the sender stalled too: others drop it after three seconds", true, true, kOther, 3000, 1, 'P'},
        {"the sender stalled, no messaging thread: others drop it after a second", true, false, kOther, 1000, 1, 'P'},
        {"a receiver far behind takes nothing", true, true, kReceiverFull, 1000, 1, 'P'},
        {"a receiver with room takes everything", true, true, kReceiverWithRoom, 1000, 0, 'D'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(memory_, 0, sizeof memory_);
        nodes_.clear();
        world_.alive.clear();
        Node& sender = Start(10);
        Node& receiver = Start(20);  // takes passes only as the judge
        Node& other = Start(30);
        if (c.serving) Serve(20);
        if (!c.alive) world_.alive.erase(20);
        ASSERT_TRUE(sender.manager->Enqueue(20, Payload(2048, 1)));
        ASSERT_TRUE(sender.manager->Enqueue(20, Payload(100, 2)));
        Pump({&sender});
        world_.now += c.waitedMs;
        receiver.held = c.judge == kReceiverFull ? kMaxReceivedBytes : 0;
        Pump({c.judge == kSender ? &sender : c.judge == kOther ? &other : &receiver});
        if (c.judge == kOther) {
            if (c.dropped != 0) Pump({&sender});  // it learns its chunk went, and sends the next
        } else {
            world_.now += 50;
            Pump({&sender});
        }
        if (c.area == 'D') Pump({&sender, &receiver});
        EXPECT_EQ(sender.manager->DroppedCount(), c.dropped);
        EXPECT_EQ(receiver.inbox.size(), c.area == 'D' ? 2u : 0u);
        if (c.area == 'D') EXPECT_TRUE(receiver.inbox[0].bytes == Payload(2048, 1));
        const bool waiting = c.area == 'F' || c.area == 'P';
        EXPECT_EQ(Block().chunkDest, waiting ? 20u : 0u);
        EXPECT_EQ(Block().claimant, waiting ? 10u : 0u);
        if (waiting) {
            EXPECT_EQ(Block().chunkIndex, 0);
            EXPECT_EQ(Block().totalLength, c.area == 'F' ? 2048u : 100u);
        }
        // A dropped message's other chunks never enter the area.
        if (c.area != 'D') EXPECT_EQ(Block().nextChunkSeq, c.area == 'F' ? 1 : 2);
        EXPECT_EQ(sender.manager->Flush(0), c.area == 'D' || (c.area == '-' && c.dropped == 0));
        EXPECT_EQ(sender.manager->Flush(0), c.area == 'D' || c.area == '-');  // nothing new dropped
    }
}

TEST_F(InstancesTest, ASenderWaitsForRoomAndADroppedMessageMakesItAtOnce) {
    Node& sender = Start(10);
    world_.alive.insert(20);
    const std::size_t big = kMaxQueuedBytes / 2 + 1;
    ASSERT_TRUE(sender.manager->Enqueue(20, std::vector<std::uint8_t>(big, 1)));
    EXPECT_FALSE(sender.manager->Enqueue(20, std::vector<std::uint8_t>(big, 2)));  // no room, no wait
    EXPECT_TRUE(sender.manager->Enqueue(20, std::vector<std::uint8_t>(1000, 3)));  // room for a small one
    world_.alive.erase(20);
    Pump({&sender});
    EXPECT_TRUE(sender.manager->QueueEmpty());
    EXPECT_EQ(sender.manager->DroppedCount(), 2u);
    EXPECT_EQ(Block().nextChunkSeq, 2);  // one chunk of each, not one per kilobyte
    // Alone in the queue, a message may be larger than the room.
    EXPECT_TRUE(sender.manager->Enqueue(20, std::vector<std::uint8_t>(kMaxQueuedBytes, 4)));
}

// Copies that follow the published procedure claim the area by `busy` alone (no claimant).
TEST_F(InstancesTest, ClaimsWithoutClaimantAreHonoured) {
    const struct {
        const char* what;
        std::uint32_t dest;
        std::uint64_t waitedMs;
        bool taken;  // the chunk was consumed (dest 10) or the area freed
    } cases[] = {
        {"a chunk for this process is consumed", 10, 0, true},
        {"a claim still being written is left alone", 0, 4900, false},
        {"a claim left empty for five seconds is freed", 0, 5000, true},
        {"a chunk for a live process waits", 30, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(memory_, 0, sizeof memory_);
        nodes_.clear();
        world_.alive = {30, 77};
        Node& me = Start(10);
        Start(30);
        Serve(30);
        ASSERT_TRUE(me.manager->Enqueue(30, Payload(10, 5)));  // must not claim over the foreign one
        InstanceBlock& b = Block();
        b.busy = 1;
        b.chunkSender = 77;
        b.messageId = 5;
        b.chunkIndex = b.lastChunkIndex = 0;
        b.chunkLength = 8;
        std::memset(b.chunkData, 0, 4);
        std::memcpy(b.chunkData + 4, "abcd", 4);
        b.chunkDest = c.dest;
        b.chunkSeq = 41;
        Pump({&me});
        world_.now += c.waitedMs;
        Pump({&me});
        if (c.dest == 10) {
            ASSERT_EQ(me.inbox.size(), 1u);
            EXPECT_EQ(me.inbox[0].senderPid, 77u);
            EXPECT_EQ(me.inbox[0].bytes.size(), 8u);
        }
        // Once the foreign chunk is gone, this process's own goes in its place.
        EXPECT_EQ(b.chunkSeq != 41 && b.chunkDest == 30u && b.claimant == 10u, c.taken);
        EXPECT_EQ(b.busy, 1);
    }
}

TEST_F(InstancesTest, AClaimWithoutDestinationIsFreedOnlyWhenItsClaimantIsGone) {
    const struct {
        const char* what;
        std::uint32_t claimant;
        bool freed;
    } cases[] = {
        {"claimant writing", 30, false},
        {"claimant died after its claim", 31, true},
        {"claimant never existed", 999, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(memory_, 0, sizeof memory_);
        nodes_.clear();
        world_.alive = {30};
        Node& looker = Start(10);
        Block().claimant = c.claimant;
        Block().busy = 1;
        Block().chunkDest = 0;
        world_.now += 60000;
        Pump({&looker});
        EXPECT_EQ(Block().claimant == 0, c.freed);
        if (c.freed) {
            EXPECT_EQ(Block().busy, 0);
        }
    }
}

TEST_F(InstancesTest, AfterTheOwnerDiesEveryInstanceSharesOneMutexAndEvent) {
    // Whoever takes over, old instances and new ones end up on the same objects.
    for (bool newcomerFirst : {true, false}) {
        SCOPED_TRACE(newcomerFirst ? "a new process finds the owner dead" : "an old instance takes over");
        std::memset(memory_, 0, sizeof memory_);
        nodes_.clear();
        world_.alive.clear();
        Node& first = Start(1);
        Node& second = Start(2);
        Node& third = Start(3);
        ASSERT_EQ(Block().ownerPid, 1u);
        EXPECT_EQ(second.sync->mutex(), first.sync->mutex());
        Kill(first);
        if (!newcomerFirst) second.manager->EnsureOwner();
        Node& fourth = Start(4);  // holds nothing from the dead owner
        Pump();
        const std::uint32_t owner = newcomerFirst ? 4u : 2u;
        EXPECT_EQ(Block().ownerPid, owner);
        for (Node* node : {&second, &third, &fourth}) {
            EXPECT_NE(node->sync->mutex(), 0u);
            EXPECT_EQ(node->sync->mutex(), Block().ownerMutex);
            EXPECT_EQ(node->sync->event(), Block().ownerEvent);
        }
        // And messages flow in every direction.
        ASSERT_TRUE(third.manager->Enqueue(0, Payload(1500, 3)));
        ASSERT_TRUE(fourth.manager->Enqueue(3, Payload(10, 4)));
        Pump();
        Node& ownerNode = newcomerFirst ? fourth : second;
        ASSERT_EQ(ownerNode.inbox.size(), 1u);
        EXPECT_EQ(ownerNode.inbox[0].senderPid, 3u);
        ASSERT_EQ(third.inbox.size(), 1u);
        EXPECT_EQ(third.inbox[0].senderPid, 4u);
    }
}

TEST_F(InstancesTest, TheTableListsTheOwnerFirstAndOnlyLiveInstances) {
    Node& owner = Start(1);
    Start(2);
    Node& third = Start(3);
    EXPECT_EQ(owner.manager->Instances(), (std::vector<std::uint32_t>{1, 2, 3}));
    Kill(third);
    EXPECT_EQ(owner.manager->Instances(), (std::vector<std::uint32_t>{1, 2}));
    // Right after the owner died, before anyone noticed, it is still listed first.
    Kill(owner);
    EXPECT_EQ(nodes_[1]->manager->Instances(), (std::vector<std::uint32_t>{1, 2}));
    nodes_[1]->manager->EnsureOwner();
    EXPECT_EQ(nodes_[1]->manager->Instances(), (std::vector<std::uint32_t>{2}));

    // 250 listed besides the owner; the next is not, yet it still sends and receives.
    for (std::uint32_t pid = 1000; pid < 1250; ++pid) Start(pid);
    Node& unlisted = Start(5000);
    std::vector<std::uint32_t> listed = unlisted.manager->Instances();
    EXPECT_EQ(listed.size(), 251u);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 5000u), 0);
    ASSERT_TRUE(unlisted.manager->Enqueue(0, Payload(5, 5)));
    Pump({nodes_[1].get(), &unlisted});
    ASSERT_EQ(nodes_[1]->inbox.size(), 1u);
    EXPECT_EQ(nodes_[1]->inbox[0].senderPid, 5000u);
}

TEST_F(InstancesTest, IncompleteMessagesDoNotStayPending) {
    Node& receiver = Start(1);
    Node& sender = Start(2);
    // The sender dies after its first chunk: the partial message goes once that is seen.
    ASSERT_TRUE(sender.manager->Enqueue(1, Payload(5000, 9)));
    Pump({&sender});
    Pump({&receiver});
    EXPECT_EQ(receiver.manager->PendingCount(), 1u);
    Kill(sender);
    world_.now += 1000;
    Pump({&receiver});
    EXPECT_EQ(receiver.manager->PendingCount(), 0u);
    EXPECT_TRUE(receiver.inbox.empty());

    // A chunk out of order ends the message it belongs to.
    Node& third = Start(3);
    ASSERT_TRUE(third.manager->Enqueue(1, Payload(3000, 1)));
    Pump({&third});
    Pump({&receiver});
    Pump({&third});
    Block().chunkIndex = 2;  // the second chunk claims to be the third
    Pump({&receiver});
    EXPECT_EQ(receiver.manager->PendingCount(), 0u);
    Pump();
    EXPECT_TRUE(receiver.inbox.empty());
}

}  // namespace
}  // namespace vxo
