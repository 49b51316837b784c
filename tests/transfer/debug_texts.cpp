#include "transfer/debug_texts.h"

namespace {

constexpr DWORD kDbgPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C

}  // namespace

DebugTexts* DebugTexts::active_ = nullptr;

DebugTexts::DebugTexts()
{
    active_ = this;
    handler_ = AddVectoredExceptionHandler(1, Handler);
}

DebugTexts::~DebugTexts()
{
    RemoveVectoredExceptionHandler(handler_);
    active_ = nullptr;
}

LONG CALLBACK DebugTexts::Handler(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == kDbgPrintException && r->NumberParameters >= 2 && active_) {
        const char* text = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
        std::lock_guard<std::mutex> hold(active_->lock_);
        active_->texts_.emplace_back(text);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

std::vector<std::string> DebugTexts::Take()
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> texts;
    texts.swap(texts_);
    return texts;
}
