#include "session.h"

#include "errors.h"
#include "options.h"
#include "output.h"

namespace cli {

DeviceCall::DeviceCall(const CommonOptions& common, std::optional<uint32_t> timeoutSeconds, bool raw, bool noReset,
                       std::optional<bool> progress)
    : common_(common), line_(progress && ProgressWanted(common, *progress)), names_(NamesOf(common))
{
    settings_.raw = raw;
    settings_.noReset = noReset;
    settings_.timeoutSeconds = timeoutSeconds ? static_cast<int64_t>(*timeoutSeconds) : -1;
    settings_.loaderVersion = common.loaderVersion.value_or(0);
    settings_.simulated = common.simulate;
    settings_.waiting = [](const std::string& sentence) { PrintInfo("uxfer: " + sentence); };
    if (progress)
        settings_.progress = [this](uint64_t done, uint64_t total) { line_.Update(done, total); };
}

}  // namespace cli
