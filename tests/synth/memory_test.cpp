// The engine when memory runs out: every allocation of construction is made to fail in turn, then
// AddVoice's. This program replaces the global operator new so that the n-th allocation from now
// can be made to fail.
#include "audio/CVirtualWaveDevice.h"
#include "audio/CWaveBufferSet.h"
#include "synth/CSynthesizer.h"
#include "tests/support/CapturingMessageSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>

namespace {
// Allocations still allowed before one fails; negative: no failure.
std::atomic<long> g_allocationsLeft{-1};

void* Allocate(std::size_t size)
{
    long left = g_allocationsLeft.load();
    while (left >= 0) {
        if (g_allocationsLeft.compare_exchange_weak(left, left - 1)) {
            if (left == 0) {
                g_allocationsLeft = -1;
                return nullptr;
            }
            break;
        }
    }
    return std::malloc(size ? size : 1);
}

// Fails the allocation after the next `allowed` ones, for as long as it lives.
struct FailAllocation {
    explicit FailAllocation(long allowed) { g_allocationsLeft = allowed; }
    ~FailAllocation() { g_allocationsLeft = -1; }
    bool Happened() const { return g_allocationsLeft.load() == -1; }
};
} // namespace

// These operators are the program's new and delete, both on malloc and free; GCC, inlining them
// into their callers, takes a free of what operator new returned for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using Texts = std::vector<std::string>;

TEST(EngineMemory, RingThatCannotBeAllocatedIsNotReady)
{
    // The first allocation of Allocate is the heap itself: no message. Later ones are buffers or
    // headers: one message, however many fail.
    bool sawHeapFailure = false;
    bool sawBufferFailure = false;
    for (long allowed = 0; allowed < 40; ++allowed) {
        CCapturingMessageSink messages;
        auto set = std::make_unique<std::optional<CWaveBufferSet>>();
        bool failed;
        try {
            FailAllocation fail(allowed);
            set->emplace(32768, 4);
            failed = fail.Happened();
        } catch (const std::bad_alloc&) {
            // The two pointer arrays are ordinary allocations: their failure reaches the engine,
            // which reports it as out of memory.
            EXPECT_TRUE(messages.shown.empty());
            continue;
        }
        CWaveBufferSet* ring = &**set;
        if (!failed) {
            EXPECT_EQ(1, ring->IsReady());
            EXPECT_TRUE(messages.shown.empty());
            break;
        }
        EXPECT_EQ(0, ring->IsReady()) << allowed;
        if (messages.shown.empty()) {
            sawHeapFailure = true;
        } else {
            EXPECT_EQ(Texts{"バッファの確保に失敗しました。"}, messages.Texts()) << allowed;
            sawBufferFailure = true;
        }
        ring->Clear(); // harmless on a set that is not ready
    }
    EXPECT_TRUE(sawHeapFailure);
    EXPECT_TRUE(sawBufferFailure);
}

TEST(EngineMemory, EngineShortOfMemoryReportsOnceAndRefusesEverything)
{
    auto device = std::make_shared<CVirtualWaveDevice>();
    int outOfMemory = 0;
    for (long allowed = 0;; ++allowed) {
        ASSERT_LT(allowed, 200) << "construction never succeeded";
        CCapturingMessageSink messages;
        // The engine's own storage comes first, so that only its constructor meets the failure.
        auto storage = std::make_unique<std::optional<CSynthesizer>>();
        bool failed;
        {
            FailAllocation fail(allowed);
            storage->emplace(nullptr, device, 32768, 4, 80, 10);
            failed = fail.Happened();
        }
        CSynthesizer* synth = &**storage;
        if (!failed) {
            EXPECT_TRUE(synth->IsUsable());
            EXPECT_TRUE(messages.shown.empty());
            break;
        }
        const Texts shown = messages.Texts();
        if (shown == Texts{"メモリが足りません。"}) {
            ++outOfMemory;
            EXPECT_FALSE(synth->IsUsable()) << allowed;
            // Everything later is refused silently, and nothing reaches the device.
            const int opens = device->CallCount(EWaveDeviceOp::Open);
            EXPECT_EQ(-1, synth->AddVoice());
            synth->SetFrequency(0, 440);
            synth->SetGate(0, 1);
            synth->Start();
            EXPECT_FALSE(synth->IsRunning());
            synth->RenderStep();
            synth->OnBufferDone(nullptr);
            EXPECT_EQ(1, synth->Stop());
            EXPECT_EQ(Texts{"メモリが足りません。"}, messages.Texts()) << allowed;
            EXPECT_EQ(opens, device->CallCount(EWaveDeviceOp::Open));
        } else {
            // The ring's own failure: its message (or none, when the heap could not be made), and
            // a Start that stops at Prime.
            EXPECT_TRUE(shown.empty() || shown == Texts{"バッファの確保に失敗しました。"})
                << allowed << ": " << ::testing::PrintToString(shown);
            ASSERT_TRUE(synth->IsUsable());
            messages.shown.clear();
            synth->AddVoice();
            synth->Start();
            EXPECT_FALSE(synth->IsRunning());
            EXPECT_TRUE(messages.shown.empty());
            EXPECT_EQ(1, synth->Stop());
        }
        storage.reset(); // frees whatever was made
    }
    EXPECT_GE(outOfMemory, 4);
}

TEST(EngineMemory, AddVoiceShortOfMemoryAddsNothing)
{
    CCapturingMessageSink messages;
    CSynthesizer synth(nullptr, std::make_shared<CVirtualWaveDevice>(), 32768, 4, 80, 10);
    ASSERT_EQ(0, synth.AddVoice());
    int failures = 0;
    for (long allowed = 0;; ++allowed) {
        ASSERT_LT(allowed, 10);
        int index;
        bool failed;
        {
            FailAllocation fail(allowed);
            index = synth.AddVoice();
            failed = fail.Happened();
        }
        if (!failed) {
            EXPECT_EQ(1, index);
            break;
        }
        ++failures;
        EXPECT_EQ(-1, index);
        EXPECT_EQ(Texts{"メモリが足りません。"}, messages.Texts());
        EXPECT_EQ(1, synth.VoiceCount());
        messages.shown.clear();
    }
    EXPECT_EQ(2, synth.VoiceCount());
    EXPECT_GE(failures, 2); // the voice itself, and the list's room for it
}

} // namespace
