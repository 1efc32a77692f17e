#pragma once

#include "tests/support/CompletionRecorder.h"

#include <functional>
#include <utility>

namespace corvex::test {

// recorder.expect with a lambda body: the recorder's template cannot deduce its argument
// pack from a lambda, so the body is wrapped here.
template <class... Args, class Body>
std::function<void(Args...)>
expectCompletion(CompletionRecorder& recorder, const QString& name, Body body,
                 CompletionRecorder::OnThread thread = CompletionRecorder::OnThread::Main)
{
    return recorder.expect<Args...>(name, thread, std::function<void(Args...)>(std::move(body)));
}

} // namespace corvex::test
