#include "audio/SoundServerRate.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <chrono>
#include <memory>

namespace {

struct SQuery {
    std::uint32_t rate = 0;
    bool done = false;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* query = static_cast<SQuery*>(userdata);
    if (info != nullptr)
        query->rate = info->sample_spec.rate;
    query->done = true;
}

} // namespace

std::uint32_t SoundServerRate(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop(pa_mainloop_new(),
                                                                         &pa_mainloop_free);
    if (!loop)
        return 0;
    const std::unique_ptr<pa_context, decltype(&pa_context_unref)> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "Tonvale"), &pa_context_unref);
    // Never start a server of our own: only the one that will play the tones counts.
    if (!context || pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return 0;

    SQuery query;
    pa_operation* operation = nullptr;
    while (!query.done) {
        const pa_context_state_t state = pa_context_get_state(context.get());
        if (!PA_CONTEXT_IS_GOOD(state))
            break;
        if (state == PA_CONTEXT_READY && operation == nullptr) {
            operation = pa_context_get_server_info(context.get(), &OnServerInfo, &query);
            if (operation == nullptr)
                break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        // One round of the loop, waiting for the server no longer than the time that is left.
        if (pa_mainloop_prepare(loop.get(), static_cast<int>(left.count())) < 0 ||
            pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0)
            break;
    }
    if (operation != nullptr) {
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    pa_context_disconnect(context.get());
    return query.rate;
}
