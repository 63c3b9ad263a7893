#include "station/allow_from_ini.h"

#include "settings/ini_keys.h"

namespace {

std::string FaultLine(const AllowList::FaultyEntry& faulty) {
    const std::string entry =
        std::string(ini_keys::kAllowFrom.name) + " entry " + QuotedForLog(faulty.entry);
    switch (faulty.fault) {
        case AllowList::Fault::kHostBitsSet:
            return entry +
                   " has bits set beyond its prefix; a block is written with its first "
                   "address.";
        case AllowList::Fault::kWholeSpace:
            return entry + " is the whole Internet; write any if that is meant.";
        case AllowList::Fault::kMalformed:
            break;
    }
    return MalformedEntryLine(ini_keys::kAllowFrom, faulty.entry);
}

}  // namespace

AllowFromIni AllowFromIniSettings(const IniSettings& ini) {
    AllowFromIni allow{AllowList::FromEntries(ini.Text(ini_keys::kAllowFrom)), {}};
    for (const IniProblem& problem : ini.problems()) {
        if (problem.line == 0) {
            allow.problems.push_back(problem.message);
        }
    }
    for (const IniProblem& problem : ini.ProblemsIn(ini_keys::kAllowFrom.section)) {
        allow.problems.push_back(problem.message);
    }
    for (const AllowList::FaultyEntry& faulty : allow.list.faults()) {
        allow.problems.push_back(FaultLine(faulty));
    }
    if (!allow.problems.empty()) {
        allow.list = AllowList::LoopbackOnly();
        allow.problems.push_back("With a mistake in [" + std::string(ini_keys::kAllowFrom.section) +
                                 "], only loopback (127.0.0.0/8) may connect until it is mended.");
    }
    return allow;
}
