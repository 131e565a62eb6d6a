// Runtime search by source letters, the choice by version, and the registry lookup of vendor keys.
#include "runtime/search.h"

#include <functional>
#include <optional>
#include <set>

#include "common/text.h"
#include "config/config_store.h"
#include "config/expand.h"
#include "platform/platform.h"
#include "runtime/installed.h"
#include "runtime/jvm.h"
#include "runtime/trace.h"

namespace vxo {

namespace {

constexpr const char* kDefaultOrder = "cbsie";
constexpr const char* kJavaSoftKeys[] = {
    "SOFTWARE\\JavaSoft\\JRE", "SOFTWARE\\JavaSoft\\JDK",
    "SOFTWARE\\JavaSoft\\Java Runtime Environment", "SOFTWARE\\JavaSoft\\Java Development Kit"};
constexpr const char* kIbmKey = "SOFTWARE\\IBM\\Java2 Runtime Environment";

// Cuts the last path component, unless its separator is the first character or missing.
void CutLastComponent(std::string& path) {
    std::size_t pos = path.find_last_of("/\\");
    if (pos != std::string::npos && pos != 0) path.resize(pos);
}

// One place a source looked: the runtime library it names there, or why it names none.
struct Candidate {
    std::string where;
    std::string library;
    std::string why;      // when library is empty
    std::string version;  // told by a vendor key's name, when the runtime has no release file
    bool extra = false;   // found only by the wider search of installed runtimes
};

// Walks the sources of "jre_order" in order. Without a version range the first library found
// wins, as it always has; with one, a runtime whose version is known to lie outside it is passed
// over. The wider search (vendor keys, folders of runtimes) never displaces a runtime that the
// plain sources find: without a range it is consulted only when they find none.
class Search {
public:
    explicit Search(const ConfigStore& store)
        : store_(store), min_(store.Value(Keyword::MinJre)), max_(store.Value(Keyword::MaxJre)),
          ranged_(!min_.empty() || !max_.empty()), trace_(SearchTraceOn()) {}

    std::string Run() {
        const std::string order = EffectiveJreOrder(store_.Value(Keyword::JreOrder));
        if (trace_)
            TraceLine("runtime search, order \"" + order + "\", minjre \"" + min_ + "\", maxjre \"" + max_ + "\"");
        for (char letter : order) {
            if (Source(letter, !ranged_)) return Chosen();
        }
        if (!ranged_ && order.find('s') != std::string::npos) {
            TraceLine("no source named a runtime; the installed runtimes:");
            if (Installed()) return Chosen();
        }
        chosen_ = firstFound_;
        if (chosen_.empty()) {
            TraceLine("no runtime found");
            return chosen_;
        }
        TraceLine("no runtime known to fit; the first one found is used, and its version checked");
        return Chosen();
    }

private:
    std::string Chosen() {
        if (trace_) TraceLine("using " + chosen_);
        return chosen_;
    }

    // True when the candidate ends the search.
    bool Consider(const Candidate& c) {
        auto passOver = [&](const std::string& why) {
            if (trace_) TraceLine("  " + c.where + ": " + why);
            return false;
        };
        if (c.library.empty()) return passOver(c.why);
        if (c.extra && !FirstSight(c.library)) return passOver("the same runtime as an earlier candidate");
        if (!c.extra && ranged_) FirstSight(c.library);
        if (!ranged_) {
            if (trace_) TraceLine("  " + c.where + ": " + c.library + Told(VersionOf(c)));
            chosen_ = c.library;
            return true;
        }
        if (firstFound_.empty() || (firstIsExtra_ && !c.extra)) {
            firstFound_ = c.library;
            firstIsExtra_ = c.extra;
        }
        const std::string version = VersionOf(c);
        if (version.empty() && c.extra) return passOver(c.library + ": does not tell its version");
        if (!version.empty() && !VersionWithin(version, min_, max_))
            return passOver(c.library + Told(version) + ", outside the range");
        if (trace_)
            TraceLine("  " + c.where + ": " + c.library + Told(version) +
                      (version.empty() ? ", checked once it runs" : ", within the range"));
        chosen_ = c.library;
        return true;
    }

    static std::string Told(const std::string& version) {
        return version.empty() ? std::string(" (version unknown)") : " (version " + version + ")";
    }

    std::string VersionOf(const Candidate& c) const {
        if (!ranged_ && !trace_) return std::string();  // the release file is read only when it matters
        std::string version = ReadReleaseVersion(c.library);
        return version.empty() ? c.version : version;
    }

    // Links and link-named duplicates lead to one runtime: its library's folder is its identity.
    bool FirstSight(const std::string& library) {
        std::string identity = platform::FolderIdentity(DirectoryPart(library));
        return identity.empty() || seen_.insert(identity).second;
    }

    bool Source(char letter, bool plainOnly) {
        switch (letter) {
            case 'c': return Configured();
            case 'b': return Beside();
            case 's': return System() || (!plainOnly && Installed());
            case 'i': return Registry(kIbmKey);
            case 'e': return Environment();
            default: return false;  // not a source letter: skipped
        }
    }

    // Relative "jvmdll" and "jre" values name places beside the program, never in the working
    // folder: a runtime planted where the user happens to start the program must not be loaded.
    bool Configured() {
        std::string value = ExpandValue(store_, store_.Value(Keyword::JvmDll), false);
        if (value.empty()) return false;
        Candidate c;
        c.where = "jvmdll " + value;
        std::string path = store_.ResolveInAppDir(value);
        if (!path.empty() && platform::CanRead(path)) c.library = path;
        c.why = "no such file";
        return Consider(c);
    }

    bool Beside() {
        std::string value = ExpandValue(store_, store_.Value(Keyword::Jre), false);
        if (value.empty()) value = "./jre/";
        std::string home = store_.ResolveInAppDir(value);
        Candidate c;
        c.where = "jre " + (home.empty() ? value : home);
        if (!home.empty()) c.library = FindJvmInHome(store_, home);
        c.why = "no runtime library there";
        return Consider(c);
    }

    bool Registry(const char* key) {
        std::vector<std::string> unused;
        if (!platform::ListRegistrySubkeys(platform::RegistryRoot::LocalMachine, key, 0, unused)) return false;
        Candidate c;
        c.where = std::string("HKLM\\") + key;
        c.library = LookupRegistryRuntime(store_, key);
        c.why = "names no runtime library";
        return Consider(c);
    }

    // The system's registered runtime: the vendors' registry keys, then whatever the system
    // itself points at where there is no registry.
    bool System() {
        for (const char* key : kJavaSoftKeys) {
            if (Registry(key)) return true;
        }
        for (const std::string& home : platform::SystemRuntimeHomes()) {
            Candidate c;
            c.where = home;
            c.library = FindJvmInHome(store_, home);
            c.why = "no runtime library there";
            if (Consider(c)) return true;
        }
        return false;
    }

    bool Installed() {
        std::vector<InstalledRuntime> runtimes = VendorKeyRuntimes(store_);
        for (InstalledRuntime& r : ScanRuntimeFolders(store_, platform::RuntimeCollectionFolders()))
            runtimes.push_back(std::move(r));
        for (const InstalledRuntime& r : runtimes) {
            Candidate c;
            c.where = r.where;
            c.library = r.library;
            c.version = r.version;
            c.why = "no runtime library there";
            c.extra = true;
            if (Consider(c)) return true;
        }
        return false;
    }

    bool Environment() {
        for (const char* name : {"JRE_HOME", "JAVA_HOME"}) {
            std::optional<std::string> home = platform::GetEnv(name);
            if (!home || home->empty()) continue;
            Candidate c;
            c.where = std::string(name) + " " + *home;
            c.library = FindJvmInHome(store_, *home);
            c.why = "no runtime library there";
            if (Consider(c)) return true;
        }
        return false;
    }

    const ConfigStore& store_;
    const std::string min_, max_;
    const bool ranged_, trace_;
    std::string chosen_, firstFound_;
    bool firstIsExtra_ = false;
    std::set<std::string> seen_;
};

}  // namespace

std::string EffectiveJreOrder(const std::string& value) {
    std::string order = ToLowerAscii(value);
    return order.find_first_of(kDefaultOrder) == std::string::npos ? kDefaultOrder : order;
}

std::string SearchJvmLibrary(const ConfigStore& store) { return Search(store).Run(); }

std::string FindJvmLibrary(const ConfigStore& store) {
    static std::optional<std::string> memo;  // not yet searched until the first call
    if (!memo) memo = SearchJvmLibrary(store);
    return *memo;
}

std::string LookupRegistryRuntime(const ConfigStore& store, const std::string& vendorKey) {
    std::string version;
    if (!ReadMachineString(vendorKey, "CurrentVersion", version)) return std::string();
    const std::string versionKey = vendorKey + "\\" + version;
    std::string library;
    if (!ReadMachineString(versionKey, "RuntimeLib", library)) {
        std::string home;
        return ReadMachineString(versionKey, "JavaHome", home) ? FindJvmInHome(store, home) : std::string();
    }
    bool vmWanted = store.Value(Keyword::Vm).size() > 1;
    if (platform::CanRead(library) && !vmWanted) return library;
    // Search the runtime's bin folder instead: another kind of virtual machine, or a library
    // that moved.
    std::string bin = library;
    CutLastComponent(bin);
    CutLastComponent(bin);
    return FindJvmInHome(store, bin);
}

}  // namespace vxo
