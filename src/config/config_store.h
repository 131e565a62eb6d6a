// The process-wide configuration store: one UTF-8 text, scanned line by line on every lookup.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/text.h"

namespace vxo {

// Keywords of the configuration, in the order of the keyword table below.
enum class Keyword {
    MainClass, Option, Property, Export, Argv, Message, ClassPath, JavaClassPath, Libs, JavaLibs,
    MinJre, MaxJre, JreOrder, Jre, JvmDll, Vm, AppId, SingleInstance, Wildcard, Splash,
    SplashTitle, SplashCloseOnWindow, Stdout, Stderr, ForceCwd, DisableExternal, JreUrl,
};

// What the store does with a value before handing it out.
enum class Processing { None, Expand, ExpandThenResolve, VmCache, ClassPath };

struct KeywordInfo {
    Keyword keyword;
    const char* name;
    bool multiValued;
    bool payloadOnly;  // scope: the embedded text alone
    bool narrow;       // form: ANSI code page text (else UTF-8 as stored)
    Processing processing;
};

inline constexpr KeywordInfo kKeywords[] = {
    {Keyword::MainClass, "mainclass", false, true, true, Processing::None},
    {Keyword::Option, "option", true, false, true, Processing::Expand},
    {Keyword::Property, "property", true, false, false, Processing::Expand},
    {Keyword::Export, "export", true, false, true, Processing::Expand},
    {Keyword::Argv, "argv", true, false, true, Processing::Expand},
    {Keyword::Message, "message", true, false, true, Processing::Expand},
    {Keyword::ClassPath, "classpath", true, false, true, Processing::ClassPath},
    {Keyword::JavaClassPath, "java_classpath", true, false, true, Processing::ClassPath},
    {Keyword::Libs, "libs", true, false, true, Processing::Expand},
    {Keyword::JavaLibs, "java_libs", true, false, true, Processing::Expand},
    {Keyword::MinJre, "minjre", false, false, true, Processing::None},
    {Keyword::MaxJre, "maxjre", false, false, true, Processing::None},
    {Keyword::JreOrder, "jre_order", false, false, true, Processing::None},
    {Keyword::Jre, "jre", false, false, true, Processing::None},
    {Keyword::JvmDll, "jvmdll", false, false, true, Processing::None},
    {Keyword::Vm, "vm", false, false, true, Processing::VmCache},
    {Keyword::AppId, "appid", false, false, true, Processing::None},
    {Keyword::SingleInstance, "singleinstance", false, false, true, Processing::None},
    {Keyword::Wildcard, "wildcard", false, false, true, Processing::None},
    {Keyword::Splash, "splash", false, false, true, Processing::ExpandThenResolve},
    {Keyword::SplashTitle, "splashtitle", false, false, true, Processing::None},
    {Keyword::SplashCloseOnWindow, "splashcloseonwindow", false, false, true, Processing::None},
    {Keyword::Stdout, "stdout", false, false, true, Processing::Expand},
    {Keyword::Stderr, "stderr", false, false, true, Processing::Expand},
    {Keyword::ForceCwd, "forcecwd", false, false, true, Processing::Expand},
    {Keyword::DisableExternal, "disableexternal", false, true, true, Processing::None},
    // Where to get Java, shown when no suitable runtime is found; the packed text alone sets it,
    // as the launcher may offer to open it.
    {Keyword::JreUrl, "jreurl", false, true, true, Processing::None},
};

constexpr const KeywordInfo& InfoOf(Keyword k) { return kKeywords[static_cast<int>(k)]; }

class ConfigStore {
public:
    using Callback = std::function<void(const std::string& value)>;

    // With load set, reads the external file and the payload of the running program.
    explicit ConfigStore(bool load);
    // The same for another program file (tests, tools).
    ConfigStore(bool load, const std::string& programPath);

    // Recognises the encoding of raw (UTF-8 mark, UTF-16 LE/BE mark, else ANSI code page),
    // converts it to UTF-8 and appends it.
    void AppendText(std::string_view raw);

    // The scan all lookups are made of: with a callback every matching value goes to it and
    // the result is empty; without one, the first matching value (equal to filter, when set).
    std::string Find(std::string_view keyword, const Callback* callback, bool embeddedOnly,
                     bool narrow, std::string_view filter = {}) const;
    std::string Get(std::string_view keyword, bool embeddedOnly, bool narrow) const;
    std::string GetMatching(std::string_view keyword, std::string_view filter, bool embeddedOnly,
                            bool narrow) const;
    // Every value, expanded (converted to UTF-8 when narrow is false), in text order.
    void GetAll(std::string_view keyword, StringList& list, bool embeddedOnly, bool narrow) const;

    // A relative value against the program's folder, else the working folder where only that
    // one holds it; absolute values unchanged. Every configured path comes through here or
    // through ResolveInAppDir or LocalPath, which give it this system's folder separators.
    std::string ResolvePath(std::string_view value) const;
    // A relative value against the program's folder only: for what is loaded as native code,
    // which must never come from the working folder. Empty without a program folder.
    std::string ResolveInAppDir(std::string_view value) const;
    // A configured path (or wildcard pattern) with this system's folder separators, unresolved.
    static std::string LocalPath(std::string_view value);
    // Reads the working folder again; one that cannot be read leaves it empty, never "/".
    void RefreshCurrentDir();

    // The processed value of a single-valued keyword, and every value of a multi-valued one.
    std::string Value(Keyword keyword) const;
    StringList Values(Keyword keyword) const;

    const std::string& Text() const { return text; }
    const std::string& AppPath() const { return appPath; }
    const std::string& AppDir() const { return appDir; }
    const std::string& CurrentDir() const { return currentDir; }
    std::int32_t ExternalLength() const { return externalLength; }
    std::int32_t PayloadOffset() const { return payloadOffset; }

private:
    friend void Load(ConfigStore& store);
    friend void LocatePayload(ConfigStore& store);
    friend void ReadEmbeddedText(ConfigStore& store);

    std::string text;
    std::int32_t externalLength = 0;
    std::string appPath;
    std::string appDir;
    std::string currentDir;
    mutable std::string vmCache;
    std::int32_t payloadOffset = -1;
};

// Fills the store: external file beside the program, then the payload, then "disableexternal".
void Load(ConfigStore& store);

// The four external file names tried for a program path, in order; candidates that would not
// fit the system's path buffer are left out, and an empty program path has none.
std::vector<std::string> ExternalCandidates(const std::string& programPath);

}  // namespace vxo
