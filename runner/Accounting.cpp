#include "runner/Accounting.h"

#include <string>

#include "runner/SdkNames.h"

namespace framemeld::runner {

std::vector<std::string> violations(const Accounting &accounting)
{
    std::vector<std::string> found;
    for (const CommandTally &tally : accounting.commands) {
        const std::string where = " during " + describeCommand(tally.command);
        for (const SuiteUse &suite : tally.suites) {
            if (suite.acquired != suite.released) {
                found.push_back("suite \"" + suite.name + "\" version " +
                                std::to_string(suite.version) + " acquired " +
                                std::to_string(suite.acquired) + " times but released " +
                                std::to_string(suite.released) + " times" + where);
            }
        }
        if (tally.paramCheckouts != tally.paramCheckins) {
            found.push_back(std::to_string(tally.paramCheckouts) + " parameter checkouts but " +
                            std::to_string(tally.paramCheckins) + " checkins" + where);
        }
    }
    if (accounting.deleteFunctionMissing) {
        found.push_back("pre-render data attached without a delete function");
    } else if (accounting.preRenderDataAttached && accounting.preRenderDataDeletes != 1) {
        found.push_back("pre-render data deleted " +
                        std::to_string(accounting.preRenderDataDeletes) + " times instead of once");
    }
    for (A_long id : accounting.unrequestedCheckouts) {
        found.push_back("checkout id " + std::to_string(id) +
                        " was checked out but never requested at pre-render");
    }
    for (A_long id : accounting.repeatedCheckouts) {
        found.push_back("checkout id " + std::to_string(id) + " was checked out more than once");
    }
    for (const std::string &what : accounting.escapedExceptions) {
        found.push_back("an exception left the plug-in: " + what);
    }
    return found;
}

} // namespace framemeld::runner
