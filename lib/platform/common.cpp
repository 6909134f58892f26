// Parts of the seam that are the same on every system: the debug trace switch
// and the hooks that let a program capture debugger output or answer prompts.
#include <cstdio>
#include <cstdlib>

#include "platform/backend.h"

namespace plat {
namespace {

DebugOutputSink g_sink = nullptr;
void* g_sink_context = nullptr;
void (*g_trace_sink)(const char*, void*) = nullptr;
void* g_trace_context = nullptr;
PromptHandler g_prompt = nullptr;
void* g_prompt_context = nullptr;

bool TraceEnabled() {
    static const bool enabled = std::getenv("HVB_TRACE") != nullptr;
    return enabled;
}

}  // namespace

void DebugTrace(const char* text) {
    if (text == nullptr) return;
    if (g_trace_sink != nullptr) g_trace_sink(text, g_trace_context);
    if (TraceEnabled()) std::fputs(text, stderr);
}

void SetDebugTraceSink(void (*sink)(const char* text, void* context), void* context) {
    g_trace_sink = sink;
    g_trace_context = context;
}

void DebuggerOutput(const char* text) {
    if (text == nullptr) return;
    if (g_sink != nullptr) g_sink(text, g_sink_context);
    backend::DebuggerOutput(text);
}

void SetDebugOutputSink(DebugOutputSink sink, void* context) {
    g_sink = sink;
    g_sink_context = context;
}

Answer AskYesNoCancel(const char* text, const char* caption) {
    if (g_prompt != nullptr) return g_prompt(text, caption, g_prompt_context);
    return backend::AskYesNoCancel(text, caption);
}

void SetPromptHandler(PromptHandler handler, void* context) {
    g_prompt = handler;
    g_prompt_context = context;
}

}  // namespace plat
