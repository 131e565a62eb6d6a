// A stand-in Java runtime for the launcher's tests. It exports the creation entry points, does
// just enough of JNI for the start-up flow, appends every event to a log and fails on request.
// Misuse that a real runtime would crash on or ignore stops the process with an `error` line,
// so the tests see launcher bugs instead of luck. The log contract is in README.md.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

// Declares the entry points as exports rather than imports.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fakejvm_text.h"
#include "fake_tray.h"

namespace fakejvm {
namespace {

constexpr std::string_view kLauncherPackage = "com/lumenfold/vxo/";
// Arrays bigger than this are refused with an OutOfMemoryError instead of exhausting the host.
constexpr long kMaxArrayLength = 1L << 24;

struct Config {
    bool refuse = false;
    std::optional<std::string> javaVersion = std::string("17.0.2");  // nullopt: answer null
    bool noSystem = false;
    bool noGetProperty = false;
    bool noMain = false;
    bool mainThrow = false;
    std::optional<int> mainExit;
    std::string mainClass = "demo/Main";
    bool tray = false;  // run the tray scenario once main has returned
    std::string splash;  // the splash scenario's mode, empty for none
    int writeLines = 0;  // lines main writes to the standard handles, alternately
    std::string writeWait;  // a file whose existence lets main start writing them
};

enum class Kind { Class, String, Array, Object };

struct Obj {
    Kind kind = Kind::Object;
    Obj* cls = nullptr;  // null for classes, whose class is java/lang/Class
    // classes
    std::string name;
    Obj* super = nullptr;
    // strings
    std::u16string text;
    bool hasRaw = false;  // made by NewStringUTF: raw keeps the bytes as given
    std::string raw;
    // arrays; elementClass is null for int[]
    Obj* elementClass = nullptr;
    std::vector<Obj*> elements;
    std::vector<jint> ints;
    // throwables
    std::string message;
    // plain objects
    std::map<std::string, jlong> longFields;
    std::map<std::string, Obj*> objectFields;  // the tray scenario's "popups" sets
    Obj* contextLoader = nullptr;
};

enum class RefKind { Local, Global };
struct ThreadState;

// References are handles distinct from objects, so a deleted or foreign one is recognised.
struct Ref {
    RefKind kind;
    bool live;
    Obj* obj;
    ThreadState* owner;  // locals only
};

struct ThreadState {
    JNIEnv env{};
    bool attached = false;
    Obj* pending = nullptr;
    Obj* javaThread = nullptr;
    std::vector<std::vector<Ref*>> frames;
};

struct Field {
    Obj* owner;
    std::string name;
    bool isObject = false;
};

struct State {
    std::mutex mutex;
    std::FILE* log = nullptr;
    Config config;
    bool created = false;
    bool destroyed = false;
    std::vector<std::unique_ptr<Obj>> objects;
    std::deque<Ref> refs;
    std::unordered_set<const Ref*> knownRefs;
    std::map<std::string, Obj*> classes;
    std::map<std::string, Obj*> properties;  // key: UTF-8 of the name
    std::map<const void*, bool> buffers;     // Get*Chars results not yet released; true: UTF
    std::deque<Field> fields;
    std::vector<std::unique_ptr<ThreadState>> threads;
};

// Never destroyed: the process may end through exit() while another thread is inside a call.
State& S() {
    static State* const state = new State;
    return *state;
}

thread_local ThreadState* t_state = nullptr;

// ---- log and failure ------------------------------------------------------------------------

void Log(const std::string& line) {
    std::FILE* log = S().log;
    if (log == nullptr) return;
    std::fwrite(line.data(), 1, line.size(), log);
    std::fputc('\n', log);
    std::fflush(log);
}

[[noreturn]] void HardAbort() {
    std::fflush(stderr);
#ifdef _WIN32
    // msvcrt's abort() may open a message box, which would hang a headless run.
    TerminateProcess(GetCurrentProcess(), 3);
#endif
    std::abort();
}

[[noreturn]] void Fail(const char* format, ...) {
    char text[1024];
    va_list va;
    va_start(va, format);
    std::vsnprintf(text, sizeof text, format, va);
    va_end(va);
    if (std::FILE* log = S().log) {
        std::fprintf(log, "error %s\n", text);
        std::fflush(log);
    }
    std::fprintf(stderr, "fakejvm: error: %s\n", text);
    HardAbort();
}

[[noreturn]] void Unimplemented(std::size_t slot) {
    // Lock so the line does not interleave with another thread's; nothing returns from here.
    S().mutex.lock();
    if (std::FILE* log = S().log) {
        std::fprintf(log, "unimplemented %u\n", static_cast<unsigned>(slot));
        std::fflush(log);
    }
    std::fprintf(stderr, "fakejvm: unimplemented JNI function, slot %u\n",
                 static_cast<unsigned>(slot));
    HardAbort();
}

// Called with the lock held by this thread; exit() never returns to release it.
[[noreturn]] void EndProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    S().mutex.unlock();
    std::exit(status);
}

// ---- environment ----------------------------------------------------------------------------

#ifdef _WIN32
std::optional<std::wstring> WideEnv(const char* name) {
    const std::wstring wideName(name, name + std::strlen(name));
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD got = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    if (got >= size) return std::nullopt;
    value.resize(got);
    return value;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            size, nullptr, nullptr);
    }
    return out;
}

std::optional<std::string> EnvVar(const char* name) {
    const auto value = WideEnv(name);
    if (!value) return std::nullopt;
    return WideToUtf8(*value);
}
#else
std::optional<std::string> EnvVar(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}
#endif

bool Flag(const char* name) {
    const auto value = EnvVar(name);
    return value && !value->empty() && *value != "0";
}

Config ReadConfig() {
    Config config;
    config.refuse = Flag("VXO_FAKEJVM_REFUSE");
    if (const auto version = EnvVar("VXO_FAKEJVM_VERSION")) {
        if (*version == "null") {
            config.javaVersion.reset();
        } else {
            config.javaVersion = *version;
        }
    }
    config.noSystem = Flag("VXO_FAKEJVM_NO_SYSTEM");
    config.noGetProperty = Flag("VXO_FAKEJVM_NO_GETPROPERTY");
    config.noMain = Flag("VXO_FAKEJVM_NO_MAIN");
    config.mainThrow = Flag("VXO_FAKEJVM_MAIN_THROW");
    config.tray = Flag("VXO_FAKEJVM_TRAY");
    if (const auto splash = EnvVar("VXO_FAKEJVM_SPLASH")) config.splash = *splash;
    if (const auto lines = EnvVar("VXO_FAKEJVM_WRITE_LINES")) config.writeLines = std::atoi(lines->c_str());
    if (const auto wait = EnvVar("VXO_FAKEJVM_WRITE_WAIT")) config.writeWait = *wait;
    if (const auto exitText = EnvVar("VXO_FAKEJVM_MAIN_EXIT"); exitText && !exitText->empty()) {
        char* end = nullptr;
        const long status = std::strtol(exitText->c_str(), &end, 10);
        if (*end != '\0' || status < -2147483647L || status > 2147483647L) {
            Fail("VXO_FAKEJVM_MAIN_EXIT is not an integer: %s", exitText->c_str());
        }
        config.mainExit = static_cast<int>(status);
    }
    if (const auto mainClass = EnvVar("VXO_FAKEJVM_MAINCLASS"); mainClass && !mainClass->empty()) {
        // FindClass takes slashes; accept the dotted form people write.
        config.mainClass = *mainClass;
        for (char& c : config.mainClass) {
            if (c == '.') c = '/';
        }
    }
    return config;
}

void OpenLog() {
    State& s = S();
    if (s.log != nullptr) return;
#ifdef _WIN32
    const auto path = WideEnv("VXO_FAKEJVM_LOG");
    if (!path || path->empty()) return;
    // N: not inherited by child processes.
    s.log = _wfopen(path->c_str(), L"abN");
#else
    const char* path = std::getenv("VXO_FAKEJVM_LOG");
    if (path == nullptr || *path == '\0') return;
    s.log = std::fopen(path, "abe");
#endif
    if (s.log == nullptr) {
        std::fprintf(stderr, "fakejvm: cannot open the log named by VXO_FAKEJVM_LOG\n");
        return;
    }
    // One write per line, so concurrent processes appending to one log do not interleave.
    std::setvbuf(s.log, nullptr, _IOFBF, 1 << 16);
}

bool SupportedVersion(jint version) {
    switch (version) {
        case JNI_VERSION_1_2:
        case JNI_VERSION_1_4:
        case JNI_VERSION_1_6:
        case JNI_VERSION_1_8:
        case JNI_VERSION_9:
        case JNI_VERSION_10:
            return true;
        default:
            return false;
    }
}

// ---- objects and references -----------------------------------------------------------------

Obj* NewObj(Kind kind, Obj* cls) {
    auto obj = std::make_unique<Obj>();
    obj->kind = kind;
    obj->cls = cls;
    Obj* raw = obj.get();
    S().objects.push_back(std::move(obj));
    return raw;
}

const char* SuperName(const std::string& name) {
    static const std::pair<const char*, const char*> kSupers[] = {
        {"java/lang/Error", "java/lang/Throwable"},
        {"java/lang/Exception", "java/lang/Throwable"},
        {"java/lang/RuntimeException", "java/lang/Exception"},
        {"java/lang/LinkageError", "java/lang/Error"},
        {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
        {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
        {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/NoSuchFieldError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/VirtualMachineError", "java/lang/Error"},
        {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
        {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
        {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
        {"java/lang/ArrayStoreException", "java/lang/RuntimeException"},
        {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException"},
        {"java/lang/NullPointerException", "java/lang/RuntimeException"},
        {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
    };
    if (name == "java/lang/Object") return nullptr;
    for (const auto& [child, parent] : kSupers) {
        if (name == child) return parent;
    }
    return "java/lang/Object";
}

Obj* ClassNamed(const std::string& name) {
    State& s = S();
    if (const auto it = s.classes.find(name); it != s.classes.end()) return it->second;
    Obj* cls = NewObj(Kind::Class, nullptr);
    cls->name = name;
    s.classes[name] = cls;
    if (const char* super = SuperName(name)) cls->super = ClassNamed(super);
    return cls;
}

Obj* ClassOf(Obj* obj) {
    return obj->kind == Kind::Class ? ClassNamed("java/lang/Class") : obj->cls;
}

bool IsSubclass(const Obj* cls, const Obj* of) {
    for (; cls != nullptr; cls = cls->super) {
        if (cls == of) return true;
    }
    return false;
}

bool IsInstance(Obj* obj, const Obj* cls) {
    return obj == nullptr || IsSubclass(ClassOf(obj), cls);
}

std::string Dotted(std::string name) {
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    return name;
}

bool IsLauncherClass(const std::string& name) {
    return name.size() > kLauncherPackage.size() &&
           name.compare(0, kLauncherPackage.size(), kLauncherPackage) == 0;
}

Obj* NewJavaString(std::u16string text) {
    Obj* str = NewObj(Kind::String, ClassNamed("java/lang/String"));
    str->text = std::move(text);
    return str;
}

Obj* NewJavaStringUtf(const char* bytes) {
    Obj* str = NewJavaString(DecodeModifiedUtf8(bytes));
    str->hasRaw = true;
    str->raw = bytes;
    return str;
}

// Property lines show NewStringUTF bytes as given; anything else as UTF-8.
std::string LogText(const Obj* str) { return str->hasRaw ? str->raw : Utf16ToUtf8(str->text); }

void Throw(ThreadState& t, const char* cls, std::string message) {
    Obj* error = NewObj(Kind::Object, ClassNamed(cls));
    error->message = std::move(message);
    t.pending = error;
}

std::string Describe(Obj* error) {
    std::string text = Dotted(ClassOf(error)->name);
    if (!error->message.empty()) text += ": " + error->message;
    return text;
}

jobject NewRef(ThreadState* owner, RefKind kind, Obj* obj) {
    if (obj == nullptr) return nullptr;
    State& s = S();
    s.refs.push_back(Ref{kind, true, obj, kind == RefKind::Local ? owner : nullptr});
    Ref* ref = &s.refs.back();
    s.knownRefs.insert(ref);
    if (kind == RefKind::Local) owner->frames.back().push_back(ref);
    return reinterpret_cast<jobject>(ref);
}

jobject Local(ThreadState& t, Obj* obj) { return NewRef(&t, RefKind::Local, obj); }

Ref* RefOf(ThreadState& t, jobject handle, const char* fn) {
    Ref* ref = reinterpret_cast<Ref*>(handle);
    if (S().knownRefs.count(ref) == 0) {
        Fail("%s: %p is not a reference this runtime handed out", fn, static_cast<void*>(handle));
    }
    if (!ref->live) Fail("%s: reference used after it was deleted or its frame popped", fn);
    if (ref->kind == RefKind::Local && ref->owner != &t) {
        Fail("%s: local reference used on a thread other than its own", fn);
    }
    return ref;
}

Obj* Deref(ThreadState& t, jobject handle, const char* fn) {
    return handle == nullptr ? nullptr : RefOf(t, handle, fn)->obj;
}

Obj* NeedClass(ThreadState& t, jobject handle, const char* fn) {
    Obj* obj = Deref(t, handle, fn);
    if (obj == nullptr) Fail("%s: null class", fn);
    if (obj->kind != Kind::Class) {
        Fail("%s: not a class but an instance of %s", fn, ClassOf(obj)->name.c_str());
    }
    return obj;
}

Obj* NeedString(ThreadState& t, jobject handle, const char* fn) {
    Obj* obj = Deref(t, handle, fn);
    if (obj == nullptr) Fail("%s: null string", fn);
    if (obj->kind != Kind::String) {
        Fail("%s: not a string but %s", fn, ClassOf(obj)->name.c_str());
    }
    return obj;
}

Obj* NeedArray(ThreadState& t, jobject handle, const char* fn, bool ofObjects) {
    Obj* obj = Deref(t, handle, fn);
    if (obj == nullptr) Fail("%s: null array", fn);
    if (obj->kind != Kind::Array || (obj->elementClass != nullptr) != ofObjects) {
        Fail("%s: not %s but %s", fn, ofObjects ? "an object array" : "an int array",
             ClassOf(obj)->name.c_str());
    }
    return obj;
}

long ArrayLength(const Obj* array) {
    return static_cast<long>(array->elementClass != nullptr ? array->elements.size()
                                                            : array->ints.size());
}

// ---- threads ----------------------------------------------------------------------------------

const JNINativeInterface_* Table();

ThreadState& AttachHere() {
    State& s = S();
    if (t_state == nullptr) {
        s.threads.push_back(std::make_unique<ThreadState>());
        t_state = s.threads.back().get();
        t_state->env.functions = Table();
    }
    ThreadState& t = *t_state;
    if (!t.attached) {
        t.attached = true;
        t.pending = nullptr;
        t.frames.assign(1, {});
    }
    return t;
}

void DetachHere() {
    ThreadState* t = t_state;
    if (t == nullptr || !t->attached) return;
    for (const auto& frame : t->frames) {
        for (Ref* ref : frame) ref->live = false;
    }
    t->frames.clear();
    t->attached = false;
    t->pending = nullptr;
}

enum class Pending { Forbidden, Allowed };

ThreadState& CheckEnv(JNIEnv* env, const char* fn, Pending rule) {
    if (env == nullptr) Fail("%s: null JNIEnv", fn);
    ThreadState* t = t_state;
    if (t == nullptr || env != &t->env) {
        Fail("%s: called with a JNIEnv that is not the calling thread's", fn);
    }
    if (S().destroyed) Fail("%s: called after DestroyJavaVM", fn);
    if (!t->attached) Fail("%s: called after DetachCurrentThread", fn);
    if (rule == Pending::Forbidden && t->pending != nullptr) {
        Fail("%s: called with a pending exception (%s)", fn, Describe(t->pending).c_str());
    }
    return *t;
}

// Every JNI function runs its body through here: one lock, the env checks, and no C++
// exception crossing back into the launcher.
template <class Body>
auto Guard(JNIEnv* env, const char* fn, Pending rule, Body&& body) noexcept
    -> decltype(body(std::declval<ThreadState&>())) {
    std::unique_lock<std::mutex> lock(S().mutex);
    try {
        return body(CheckEnv(env, fn, rule));
    } catch (const std::exception& error) {
        Fail("%s: %s", fn, error.what());
    } catch (...) {
        Fail("%s: unexpected failure", fn);
    }
}

// ---- Java methods -----------------------------------------------------------------------------

using Impl = jvalue (*)(ThreadState&, Obj* self, const jvalue* args);

struct Method {
    const char* owner;  // null: the configured main class
    const char* name;
    const char* sig;
    bool isStatic;
    Impl impl;
};

jvalue Nothing() {
    jvalue value{};
    return value;
}

jvalue ObjectValue(ThreadState& t, Obj* obj) {
    jvalue value{};
    value.l = Local(t, obj);
    return value;
}

Obj* StringArg(ThreadState& t, const jvalue& arg, const char* fn) {
    Obj* obj = Deref(t, arg.l, fn);
    if (obj != nullptr && obj->kind != Kind::String) {
        Fail("%s: argument is not a string but %s", fn, ClassOf(obj)->name.c_str());
    }
    return obj;
}

// Mirrors System's own argument checks, so a launcher passing null sees what Java would do.
bool CheckKey(ThreadState& t, Obj* key) {
    if (key == nullptr) {
        Throw(t, "java/lang/NullPointerException", "key can't be null");
        return false;
    }
    if (key->text.empty()) {
        Throw(t, "java/lang/IllegalArgumentException", "key can't be empty");
        return false;
    }
    return true;
}

jvalue SystemGetProperty(ThreadState& t, Obj*, const jvalue* args) {
    Obj* key = StringArg(t, args[0], "System.getProperty");
    if (!CheckKey(t, key)) return Nothing();
    Log("getProperty " + LogText(key));
    const auto& properties = S().properties;
    const auto it = properties.find(Utf16ToUtf8(key->text));
    return ObjectValue(t, it == properties.end() ? nullptr : it->second);
}

jvalue SystemSetProperty(ThreadState& t, Obj*, const jvalue* args) {
    Obj* key = StringArg(t, args[0], "System.setProperty");
    Obj* value = StringArg(t, args[1], "System.setProperty");
    if (!CheckKey(t, key)) return Nothing();
    if (value == nullptr) {
        Throw(t, "java/lang/NullPointerException", "value can't be null");
        return Nothing();
    }
    Log("setProperty " + LogText(key) + "=" + LogText(value));
    Obj*& slot = S().properties[Utf16ToUtf8(key->text)];
    Obj* previous = slot;
    slot = value;
    return ObjectValue(t, previous);
}

jvalue SystemExit(ThreadState&, Obj*, const jvalue* args) {
    const int status = static_cast<int>(args[0].i);
    Log("exit " + std::to_string(status));
    EndProcess(status);
}

jvalue ThreadCurrent(ThreadState& t, Obj*, const jvalue*) {
    if (t.javaThread == nullptr) {
        t.javaThread = NewObj(Kind::Object, ClassNamed("java/lang/Thread"));
    }
    return ObjectValue(t, t.javaThread);
}

jvalue ThreadSetContextLoader(ThreadState& t, Obj* self, const jvalue* args) {
    self->contextLoader = Deref(t, args[0].l, "Thread.setContextClassLoader");
    return Nothing();
}

jvalue ThreadGetContextLoader(ThreadState& t, Obj* self, const jvalue*) {
    return ObjectValue(t, self->contextLoader);
}

// What a runtime's System.out and System.err do underneath: one write per line straight to the
// process's standard handles, here alternately, a few milliseconds apart so that programs
// started together write at the same time. Lines read "<pid> out|err <n>".
void Touch(const std::string& path) {
    if (std::FILE* f = std::fopen(path.c_str(), "ab")) std::fclose(f);
}

// With a wait file: "<file>.ready" says the lines are about to come, the file itself lets them
// come (60 s at most), "<file>.done" says they are all out. Tests order writers this way.
void WriteStandardLines(int count, const std::string& wait) {
    if (!wait.empty()) {
        Touch(wait + ".ready");
        for (int waited = 0; waited < 6000; ++waited) {
            if (std::FILE* f = std::fopen(wait.c_str(), "rb")) {
                std::fclose(f);
                break;
            }
#ifdef _WIN32
            Sleep(10);
#else
            usleep(10000);
#endif
        }
    }
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    for (int i = 0; i < count; ++i) {
        const bool error = i % 2 == 1;
        char line[64];
        const int n = std::snprintf(line, sizeof line, "%lu %s %d\n", pid, error ? "err" : "out", i);
#ifdef _WIN32
        DWORD written = 0;
        WriteFile(GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), line, static_cast<DWORD>(n),
                  &written, nullptr);
        Sleep(4);
#else
        ssize_t written = write(error ? 2 : 1, line, static_cast<std::size_t>(n));
        (void)written;
        usleep(4000);
#endif
    }
    if (!wait.empty()) Touch(wait + ".done");
}

jvalue MainMethod(ThreadState& t, Obj* cls, const jvalue* args) {
    Log("main " + cls->name);
    Obj* array = Deref(t, args[0].l, "main");
    if (array == nullptr) {
        Log("args null");
    } else {
        if (array->kind != Kind::Array || ClassOf(array)->name != "[Ljava/lang/String;") {
            Fail("main: argument is %s, not a String[]", ClassOf(array)->name.c_str());
        }
        Log("args " + std::to_string(array->elements.size()));
        for (Obj* arg : array->elements) {
            Log(arg == nullptr ? std::string("nullArg") : "arg " + Utf16ToUtf8(arg->text));
        }
    }
    const Config& config = S().config;
    WriteStandardLines(config.writeLines, config.writeWait);
    if (config.mainExit) {
        Log("exit " + std::to_string(*config.mainExit));
        EndProcess(*config.mainExit);
    }
    if (config.mainThrow) {
        Throw(t, "java/lang/RuntimeException", "thrown by the fake main (VXO_FAKEJVM_MAIN_THROW)");
    }
    return Nothing();
}

// ---- the tray scenario's Java side (see fake_tray.cpp) ----------------------------------------

std::string HandleText(Obj* obj) {
    if (obj == nullptr) return "null";
    const auto it = obj->longFields.find("h");
    char text[32];
    std::snprintf(text, sizeof text, "%llx",
                  static_cast<unsigned long long>(it == obj->longFields.end() ? 0 : it->second));
    return std::string("h=") + text;
}

jvalue TrayMouse(ThreadState& t, Obj*, const jvalue* args) {
    Log("callback mouse " + HandleText(Deref(t, args[0].l, "OnMouseClick")) + " " +
        std::to_string(args[1].i));
    NoteTrayCallback();
    return Nothing();
}

jvalue TrayCommand(ThreadState&, Obj*, const jvalue* args) {
    Log("callback command " + std::to_string(args[0].i));
    NoteTrayCallback();
    return Nothing();
}

jvalue Constructed(ThreadState&, Obj* self, const jvalue*) {
    Log("new " + ClassOf(self)->name);
    return Nothing();
}

jvalue HashSetAdd(ThreadState& t, Obj*, const jvalue* args) {
    Log("popups add " + HandleText(Deref(t, args[0].l, "HashSet.add")));
    jvalue value{};
    value.z = JNI_TRUE;
    return value;
}

const Method kMethods[] = {
    {"java/lang/System", "getProperty", "(Ljava/lang/String;)Ljava/lang/String;", true,
     &SystemGetProperty},
    {"java/lang/System", "setProperty",
     "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true, &SystemSetProperty},
    {"java/lang/System", "exit", "(I)V", true, &SystemExit},
    {"java/lang/Thread", "currentThread", "()Ljava/lang/Thread;", true, &ThreadCurrent},
    {"java/lang/Thread", "setContextClassLoader", "(Ljava/lang/ClassLoader;)V", false,
     &ThreadSetContextLoader},
    {"java/lang/Thread", "getContextClassLoader", "()Ljava/lang/ClassLoader;", false,
     &ThreadGetContextLoader},
    {nullptr, "main", "([Ljava/lang/String;)V", true, &MainMethod},
    {"probe/TrayCallback", "OnMouseClick", "(Lcom/lumenfold/vxo/SystemTray;I)V", false, &TrayMouse},
    {"probe/TrayCallback", "OnMenuCommand", "(I)V", false, &TrayCommand},
    {"java/util/HashSet", "add", "(Ljava/lang/Object;)Z", false, &HashSetAdd},
    {"com/lumenfold/vxo/SplashScreen", "<init>", "()V", false, &Constructed},
};

std::string OwnerName(const Method& method) {
    return method.owner != nullptr ? std::string(method.owner) : S().config.mainClass;
}

jmethodID IdOf(const Method& method) {
    return reinterpret_cast<jmethodID>(const_cast<Method*>(&method));
}

const Method& MethodOf(jmethodID id, const char* fn) {
    for (const Method& method : kMethods) {
        if (IdOf(method) == id) return method;
    }
    Fail("%s: %p is not a method ID from this runtime", fn, static_cast<void*>(id));
}

enum class Ret { Void, Object, Int, Other };

Ret ReturnOf(const char* sig) {
    switch (std::strchr(sig, ')')[1]) {
        case 'V': return Ret::Void;
        case 'L':
        case '[': return Ret::Object;
        case 'I': return Ret::Int;
        default: return Ret::Other;
    }
}

// One letter per parameter, 'L' for every reference; the signatures are our own constants.
std::string ParamKinds(const char* sig) {
    std::string kinds;
    for (const char* p = sig + 1; *p != ')'; ++p) {
        while (*p == '[') ++p;
        const bool reference = *p == 'L' || p[-1] == '[';
        if (*p == 'L') p = std::strchr(p, ';');
        kinds += reference ? 'L' : *p;
    }
    return kinds;
}

std::vector<jvalue> ArgsFrom(const char* sig, va_list va) {
    std::vector<jvalue> args;
    for (const char kind : ParamKinds(sig)) {
        jvalue value{};
        switch (kind) {
            case 'Z': value.z = static_cast<jboolean>(va_arg(va, int)); break;
            case 'B': value.b = static_cast<jbyte>(va_arg(va, int)); break;
            case 'C': value.c = static_cast<jchar>(va_arg(va, int)); break;
            case 'S': value.s = static_cast<jshort>(va_arg(va, int)); break;
            case 'I': value.i = va_arg(va, jint); break;
            case 'J': value.j = va_arg(va, jlong); break;
            case 'F': value.f = static_cast<jfloat>(va_arg(va, double)); break;
            case 'D': value.d = va_arg(va, double); break;
            default: value.l = va_arg(va, jobject); break;
        }
        args.push_back(value);
    }
    return args;
}

jvalue Invoke(ThreadState& t, const char* fn, bool isStatic, Ret ret, jobject target,
              const Method& method, const jvalue* args) {
    const std::string owner = OwnerName(method);
    if (method.isStatic != isStatic) {
        Fail("%s: %s.%s%s is %s", fn, owner.c_str(), method.name, method.sig,
             method.isStatic ? "static" : "an instance method");
    }
    if (ReturnOf(method.sig) != ret) {
        Fail("%s: wrong return type for %s.%s%s", fn, owner.c_str(), method.name, method.sig);
    }
    Obj* self = nullptr;
    if (isStatic) {
        self = NeedClass(t, target, fn);
        if (self->name != owner) {
            Fail("%s: method of %s called on class %s", fn, owner.c_str(), self->name.c_str());
        }
    } else {
        self = Deref(t, target, fn);
        if (self == nullptr) Fail("%s: null receiver for %s.%s", fn, owner.c_str(), method.name);
        if (!IsSubclass(ClassOf(self), ClassNamed(owner))) {
            Fail("%s: method of %s called on an instance of %s", fn, owner.c_str(),
                 ClassOf(self)->name.c_str());
        }
    }
    if (args == nullptr && !ParamKinds(method.sig).empty()) Fail("%s: null argument array", fn);
    return method.impl(t, self, args);
}

jvalue CallV(JNIEnv* env, const char* fn, bool isStatic, Ret ret, jobject target, jmethodID id,
             va_list va) noexcept {
    return Guard(env, fn, Pending::Forbidden, [&](ThreadState& t) {
        const Method& method = MethodOf(id, fn);
        const std::vector<jvalue> args = ArgsFrom(method.sig, va);
        return Invoke(t, fn, isStatic, ret, target, method, args.data());
    });
}

jvalue CallA(JNIEnv* env, const char* fn, bool isStatic, Ret ret, jobject target, jmethodID id,
             const jvalue* args) noexcept {
    return Guard(env, fn, Pending::Forbidden, [&](ThreadState& t) {
        return Invoke(t, fn, isStatic, ret, target, MethodOf(id, fn), args);
    });
}

// ---- JNIEnv functions -------------------------------------------------------------------------

jint JNICALL GetVersion(JNIEnv* env) noexcept {
    return Guard(env, "GetVersion", Pending::Forbidden, [](ThreadState&) -> jint {
        return JNI_VERSION_10;
    });
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) noexcept {
    return Guard(env, "FindClass", Pending::Forbidden, [&](ThreadState& t) -> jclass {
        if (name == nullptr) Fail("FindClass: null name");
        const std::string className(name);
        Log("findClass " + className);
        const Config& config = S().config;
        bool found = className == "java/lang/String" || className == "java/lang/Thread" ||
                     IsLauncherClass(className) || className == config.mainClass ||
                     (config.tray && IsTrayScenarioClass(className));
        if (className == "java/lang/System") found = !config.noSystem;
        if (!found) {
            Throw(t, "java/lang/NoClassDefFoundError", className);
            return nullptr;
        }
        return static_cast<jclass>(Local(t, ClassNamed(className)));
    });
}

jmethodID LookUpMethod(ThreadState& t, const char* fn, jclass clazz, const char* name,
                       const char* sig, bool isStatic) {
    Obj* cls = NeedClass(t, clazz, fn);
    if (name == nullptr || sig == nullptr) Fail("%s: null name or signature", fn);
    const Config& config = S().config;
    const bool refused =
        isStatic && ((config.noGetProperty && cls->name == "java/lang/System" &&
                      std::strcmp(name, "getProperty") == 0) ||
                     (config.noMain && cls->name == config.mainClass &&
                      std::strcmp(name, "main") == 0));
    if (!refused) {
        for (const Method& method : kMethods) {
            if (method.isStatic == isStatic && OwnerName(method) == cls->name &&
                std::strcmp(method.name, name) == 0 && std::strcmp(method.sig, sig) == 0) {
                return IdOf(method);
            }
        }
    }
    Throw(t, "java/lang/NoSuchMethodError", Dotted(cls->name) + "." + name + sig);
    return nullptr;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name,
                                    const char* sig) noexcept {
    return Guard(env, "GetStaticMethodID", Pending::Forbidden, [&](ThreadState& t) {
        return LookUpMethod(t, "GetStaticMethodID", clazz, name, sig, true);
    });
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name,
                              const char* sig) noexcept {
    return Guard(env, "GetMethodID", Pending::Forbidden, [&](ThreadState& t) {
        return LookUpMethod(t, "GetMethodID", clazz, name, sig, false);
    });
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv* env, jclass c, jmethodID m, va_list va) noexcept {
    return CallV(env, "CallStaticObjectMethodV", true, Ret::Object, c, m, va).l;
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* env, jclass c, jmethodID m, ...) noexcept {
    va_list va;
    va_start(va, m);
    const jobject result = CallV(env, "CallStaticObjectMethod", true, Ret::Object, c, m, va).l;
    va_end(va);
    return result;
}

jobject JNICALL CallStaticObjectMethodA(JNIEnv* env, jclass c, jmethodID m,
                                        const jvalue* args) noexcept {
    return CallA(env, "CallStaticObjectMethodA", true, Ret::Object, c, m, args).l;
}


// Runs the tray scenario after main, with the runtime's lock released so it can call natives.
void ScenarioLog(const std::string& line) {
    std::lock_guard<std::mutex> lock(S().mutex);
    Log(line);
}

void AfterMain(JNIEnv* env, jmethodID m) {
    bool run = false;
    Config config;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        run = std::strcmp(reinterpret_cast<const Method*>(m)->name, "main") == 0 && t_state != nullptr &&
              t_state->pending == nullptr;
        config = S().config;
    }
    if (run && config.tray) RunTrayScenario(env, &ScenarioLog);
    if (run && !config.splash.empty()) RunSplashScenario(env, config.splash, &ScenarioLog);
}

void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass c, jmethodID m, va_list va) noexcept {
    CallV(env, "CallStaticVoidMethodV", true, Ret::Void, c, m, va);
    AfterMain(env, m);
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass c, jmethodID m, ...) noexcept {
    va_list va;
    va_start(va, m);
    CallV(env, "CallStaticVoidMethod", true, Ret::Void, c, m, va);
    va_end(va);
    AfterMain(env, m);
}

void JNICALL CallStaticVoidMethodA(JNIEnv* env, jclass c, jmethodID m,
                                   const jvalue* args) noexcept {
    CallA(env, "CallStaticVoidMethodA", true, Ret::Void, c, m, args);
    AfterMain(env, m);
}

jint JNICALL CallStaticIntMethodV(JNIEnv* env, jclass c, jmethodID m, va_list va) noexcept {
    return CallV(env, "CallStaticIntMethodV", true, Ret::Int, c, m, va).i;
}

jint JNICALL CallStaticIntMethod(JNIEnv* env, jclass c, jmethodID m, ...) noexcept {
    va_list va;
    va_start(va, m);
    const jint result = CallV(env, "CallStaticIntMethod", true, Ret::Int, c, m, va).i;
    va_end(va);
    return result;
}

jint JNICALL CallStaticIntMethodA(JNIEnv* env, jclass c, jmethodID m, const jvalue* args) noexcept {
    return CallA(env, "CallStaticIntMethodA", true, Ret::Int, c, m, args).i;
}

void JNICALL CallVoidMethodV(JNIEnv* env, jobject o, jmethodID m, va_list va) noexcept {
    CallV(env, "CallVoidMethodV", false, Ret::Void, o, m, va);
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject o, jmethodID m, ...) noexcept {
    va_list va;
    va_start(va, m);
    CallV(env, "CallVoidMethod", false, Ret::Void, o, m, va);
    va_end(va);
}

void JNICALL CallVoidMethodA(JNIEnv* env, jobject o, jmethodID m, const jvalue* args) noexcept {
    CallA(env, "CallVoidMethodA", false, Ret::Void, o, m, args);
}

jobject JNICALL CallObjectMethodV(JNIEnv* env, jobject o, jmethodID m, va_list va) noexcept {
    return CallV(env, "CallObjectMethodV", false, Ret::Object, o, m, va).l;
}

jobject JNICALL CallObjectMethod(JNIEnv* env, jobject o, jmethodID m, ...) noexcept {
    va_list va;
    va_start(va, m);
    const jobject result = CallV(env, "CallObjectMethod", false, Ret::Object, o, m, va).l;
    va_end(va);
    return result;
}

jobject JNICALL CallObjectMethodA(JNIEnv* env, jobject o, jmethodID m,
                                  const jvalue* args) noexcept {
    return CallA(env, "CallObjectMethodA", false, Ret::Object, o, m, args).l;
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) noexcept {
    return Guard(env, "NewStringUTF", Pending::Forbidden, [&](ThreadState& t) -> jstring {
        if (bytes == nullptr) return nullptr;
        return static_cast<jstring>(Local(t, NewJavaStringUtf(bytes)));
    });
}

jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize length) noexcept {
    return Guard(env, "NewString", Pending::Forbidden, [&](ThreadState& t) -> jstring {
        if (length < 0 || length > kMaxArrayLength) {
            Fail("NewString: bad length %ld", static_cast<long>(length));
        }
        if (length > 0 && chars == nullptr) Fail("NewString: null characters");
        std::u16string text(static_cast<std::size_t>(length), u'\0');
        for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(chars[i]);
        return static_cast<jstring>(Local(t, NewJavaString(std::move(text))));
    });
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) noexcept {
    return Guard(env, "GetStringLength", Pending::Forbidden, [&](ThreadState& t) -> jsize {
        return static_cast<jsize>(NeedString(t, str, "GetStringLength")->text.size());
    });
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) noexcept {
    return Guard(env, "GetStringUTFLength", Pending::Forbidden, [&](ThreadState& t) -> jsize {
        return static_cast<jsize>(
            EncodeModifiedUtf8(NeedString(t, str, "GetStringUTFLength")->text).size());
    });
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy) noexcept {
    return Guard(env, "GetStringChars", Pending::Forbidden, [&](ThreadState& t) -> const jchar* {
        const std::u16string& text = NeedString(t, str, "GetStringChars")->text;
        auto chars = std::make_unique<jchar[]>(text.size() + 1);
        for (std::size_t i = 0; i < text.size(); ++i) chars[i] = text[i];
        S().buffers[chars.get()] = false;
        if (isCopy != nullptr) *isCopy = JNI_TRUE;
        return chars.release();
    });
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) noexcept {
    Guard(env, "ReleaseStringChars", Pending::Allowed, [&](ThreadState& t) {
        NeedString(t, str, "ReleaseStringChars");
        auto& buffers = S().buffers;
        const auto it = buffers.find(chars);
        if (it == buffers.end() || it->second) {
            Fail("ReleaseStringChars: %p did not come from GetStringChars or was released",
                 static_cast<const void*>(chars));
        }
        buffers.erase(it);
        delete[] chars;
    });
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) noexcept {
    return Guard(env, "GetStringUTFChars", Pending::Forbidden, [&](ThreadState& t) -> const char* {
        const std::string bytes = EncodeModifiedUtf8(NeedString(t, str, "GetStringUTFChars")->text);
        auto chars = std::make_unique<char[]>(bytes.size() + 1);
        std::memcpy(chars.get(), bytes.c_str(), bytes.size() + 1);
        S().buffers[chars.get()] = true;
        if (isCopy != nullptr) *isCopy = JNI_TRUE;
        return chars.release();
    });
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) noexcept {
    Guard(env, "ReleaseStringUTFChars", Pending::Allowed, [&](ThreadState& t) {
        NeedString(t, str, "ReleaseStringUTFChars");
        auto& buffers = S().buffers;
        const auto it = buffers.find(chars);
        if (it == buffers.end() || !it->second) {
            Fail("ReleaseStringUTFChars: %p did not come from GetStringUTFChars or was released",
                 static_cast<const void*>(chars));
        }
        buffers.erase(it);
        delete[] chars;
    });
}

std::string ArrayClassName(const std::string& element) {
    return element[0] == '[' ? "[" + element : "[L" + element + ";";
}

// Java's own checks on an array length; false with an exception pending when refused.
bool CheckLength(ThreadState& t, jsize length) {
    if (length < 0) {
        Throw(t, "java/lang/NegativeArraySizeException", std::to_string(length));
        return false;
    }
    if (length > kMaxArrayLength) {
        Throw(t, "java/lang/OutOfMemoryError", "array too large for the fake runtime");
        return false;
    }
    return true;
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass elementClass,
                                    jobject initial) noexcept {
    return Guard(env, "NewObjectArray", Pending::Forbidden, [&](ThreadState& t) -> jobjectArray {
        Obj* element = NeedClass(t, elementClass, "NewObjectArray");
        Obj* fill = Deref(t, initial, "NewObjectArray");
        if (!CheckLength(t, length)) return nullptr;
        if (!IsInstance(fill, element)) {
            Throw(t, "java/lang/ArrayStoreException", Dotted(ClassOf(fill)->name));
            return nullptr;
        }
        Obj* array = NewObj(Kind::Array, ClassNamed(ArrayClassName(element->name)));
        array->elementClass = element;
        array->elements.assign(static_cast<std::size_t>(length), fill);
        return static_cast<jobjectArray>(Local(t, array));
    });
}

std::string OutOfBounds(long index, long length) {
    return "Index " + std::to_string(index) + " out of bounds for length " +
           std::to_string(length);
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray arrayRef, jsize index,
                                   jobject valueRef) noexcept {
    Guard(env, "SetObjectArrayElement", Pending::Forbidden, [&](ThreadState& t) {
        Obj* array = NeedArray(t, arrayRef, "SetObjectArrayElement", true);
        Obj* value = Deref(t, valueRef, "SetObjectArrayElement");
        const long length = ArrayLength(array);
        if (index < 0 || index >= length) {
            Throw(t, "java/lang/ArrayIndexOutOfBoundsException", OutOfBounds(index, length));
            return;
        }
        if (!IsInstance(value, array->elementClass)) {
            Throw(t, "java/lang/ArrayStoreException", Dotted(ClassOf(value)->name));
            return;
        }
        array->elements[static_cast<std::size_t>(index)] = value;
    });
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray arrayRef) noexcept {
    return Guard(env, "GetArrayLength", Pending::Forbidden, [&](ThreadState& t) -> jsize {
        Obj* array = Deref(t, arrayRef, "GetArrayLength");
        if (array == nullptr || array->kind != Kind::Array) Fail("GetArrayLength: not an array");
        return static_cast<jsize>(ArrayLength(array));
    });
}

jintArray JNICALL NewIntArray(JNIEnv* env, jsize length) noexcept {
    return Guard(env, "NewIntArray", Pending::Forbidden, [&](ThreadState& t) -> jintArray {
        if (!CheckLength(t, length)) return nullptr;
        Obj* array = NewObj(Kind::Array, ClassNamed("[I"));
        array->ints.assign(static_cast<std::size_t>(length), 0);
        return static_cast<jintArray>(Local(t, array));
    });
}

void JNICALL SetIntArrayRegion(JNIEnv* env, jintArray arrayRef, jsize start, jsize length,
                               const jint* values) noexcept {
    Guard(env, "SetIntArrayRegion", Pending::Forbidden, [&](ThreadState& t) {
        Obj* array = NeedArray(t, arrayRef, "SetIntArrayRegion", false);
        const long size = ArrayLength(array);
        if (start < 0 || length < 0 || start > size || length > size - start) {
            Throw(t, "java/lang/ArrayIndexOutOfBoundsException",
                  "Array region " + std::to_string(start) + ".." + std::to_string(start + length) +
                      " out of bounds for length " + std::to_string(size));
            return;
        }
        if (length > 0 && values == nullptr) Fail("SetIntArrayRegion: null buffer");
        for (jsize i = 0; i < length; ++i) {
            array->ints[static_cast<std::size_t>(start + i)] = values[i];
        }
    });
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject handle) noexcept {
    Guard(env, "DeleteLocalRef", Pending::Allowed, [&](ThreadState& t) {
        if (handle == nullptr) return;
        Ref* ref = RefOf(t, handle, "DeleteLocalRef");
        if (ref->kind != RefKind::Local) Fail("DeleteLocalRef: given a global reference");
        ref->live = false;
    });
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject handle) noexcept {
    return Guard(env, "NewGlobalRef", Pending::Forbidden, [&](ThreadState& t) {
        return NewRef(nullptr, RefKind::Global, Deref(t, handle, "NewGlobalRef"));
    });
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject handle) noexcept {
    Guard(env, "DeleteGlobalRef", Pending::Allowed, [&](ThreadState& t) {
        if (handle == nullptr) return;
        Ref* ref = RefOf(t, handle, "DeleteGlobalRef");
        if (ref->kind != RefKind::Global) Fail("DeleteGlobalRef: given a local reference");
        ref->live = false;
    });
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) noexcept {
    return Guard(env, "ExceptionOccurred", Pending::Allowed, [](ThreadState& t) {
        return static_cast<jthrowable>(Local(t, t.pending));
    });
}

void JNICALL ExceptionDescribe(JNIEnv* env) noexcept {
    Guard(env, "ExceptionDescribe", Pending::Allowed, [](ThreadState& t) {
        if (t.pending == nullptr) return;
        const std::string text = Describe(t.pending);
        std::fprintf(stderr, "fakejvm: exception %s\n", text.c_str());
        std::fflush(stderr);
        Log("describe " + text);
        t.pending = nullptr;  // as in a real runtime, describing clears it
    });
}

void JNICALL ExceptionClear(JNIEnv* env) noexcept {
    Guard(env, "ExceptionClear", Pending::Allowed, [](ThreadState& t) { t.pending = nullptr; });
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) noexcept {
    return Guard(env, "ExceptionCheck", Pending::Allowed, [](ThreadState& t) -> jboolean {
        return t.pending != nullptr ? JNI_TRUE : JNI_FALSE;
    });
}

jint JNICALL RegisterNatives(JNIEnv* env, jclass clazz, const JNINativeMethod* methods,
                             jint count) noexcept {
    return Guard(env, "RegisterNatives", Pending::Forbidden, [&](ThreadState& t) -> jint {
        Obj* cls = NeedClass(t, clazz, "RegisterNatives");
        if (count < 0 || (count > 0 && methods == nullptr)) {
            Fail("RegisterNatives: bad method list (count %ld)", static_cast<long>(count));
        }
        for (jint i = 0; i < count; ++i) {
            const JNINativeMethod& method = methods[i];
            if (method.name == nullptr || method.signature == nullptr || method.fnPtr == nullptr ||
                method.name[0] == '\0' || method.signature[0] != '(' ||
                std::strchr(method.signature, ')') == nullptr) {
                Fail("RegisterNatives: entry %ld of %s is incomplete or malformed",
                     static_cast<long>(i), cls->name.c_str());
            }
        }
        if (!IsLauncherClass(cls->name)) {
            std::string what = Dotted(cls->name);
            if (count > 0) what += std::string(".") + methods[0].name + methods[0].signature;
            Throw(t, "java/lang/NoSuchMethodError", what);
            return JNI_ERR;
        }
        Log("registerNatives " + cls->name + " " + std::to_string(count));
        return JNI_OK;
    });
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject handle) noexcept {
    return Guard(env, "GetObjectClass", Pending::Forbidden, [&](ThreadState& t) {
        Obj* obj = Deref(t, handle, "GetObjectClass");
        if (obj == nullptr) Fail("GetObjectClass: null object");
        return static_cast<jclass>(Local(t, ClassOf(obj)));
    });
}

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass clazz, const char* name, const char* sig) noexcept {
    return Guard(env, "GetFieldID", Pending::Forbidden, [&](ThreadState& t) -> jfieldID {
        Obj* cls = NeedClass(t, clazz, "GetFieldID");
        if (name == nullptr || sig == nullptr) Fail("GetFieldID: null name or signature");
        // Only the launcher's own classes have fields here: long ones, and with the tray
        // scenario the menus' "popups" set.
        const bool isObject = S().config.tray && std::strcmp(name, "popups") == 0 &&
                              std::strcmp(sig, "Ljava/util/HashSet;") == 0;
        if (!IsLauncherClass(cls->name) || (std::strcmp(sig, "J") != 0 && !isObject)) {
            Throw(t, "java/lang/NoSuchFieldError", name);
            return nullptr;
        }
        auto& fields = S().fields;
        for (Field& field : fields) {
            if (field.owner == cls && field.name == name && field.isObject == isObject) {
                return reinterpret_cast<jfieldID>(&field);
            }
        }
        fields.push_back(Field{cls, name, isObject});
        return reinterpret_cast<jfieldID>(&fields.back());
    });
}

Field& FieldOf(ThreadState& t, jobject handle, jfieldID id, const char* fn, Obj*& obj) {
    obj = Deref(t, handle, fn);
    if (obj == nullptr) Fail("%s: null object", fn);
    for (Field& field : S().fields) {
        if (reinterpret_cast<jfieldID>(&field) != id) continue;
        if (!IsSubclass(ClassOf(obj), field.owner)) {
            Fail("%s: field of %s used on an instance of %s", fn, field.owner->name.c_str(),
                 ClassOf(obj)->name.c_str());
        }
        return field;
    }
    Fail("%s: %p is not a field ID from this runtime", fn, static_cast<void*>(id));
}

jlong JNICALL GetLongField(JNIEnv* env, jobject handle, jfieldID id) noexcept {
    return Guard(env, "GetLongField", Pending::Forbidden, [&](ThreadState& t) -> jlong {
        Obj* obj = nullptr;
        const Field& field = FieldOf(t, handle, id, "GetLongField", obj);
        const auto it = obj->longFields.find(field.name);
        return it == obj->longFields.end() ? 0 : it->second;
    });
}

void JNICALL SetLongField(JNIEnv* env, jobject handle, jfieldID id, jlong value) noexcept {
    Guard(env, "SetLongField", Pending::Forbidden, [&](ThreadState& t) {
        Obj* obj = nullptr;
        const Field& field = FieldOf(t, handle, id, "SetLongField", obj);
        obj->longFields[field.name] = value;
    });
}

jobject JNICALL GetObjectField(JNIEnv* env, jobject handle, jfieldID id) noexcept {
    return Guard(env, "GetObjectField", Pending::Forbidden, [&](ThreadState& t) {
        Obj* obj = nullptr;
        const Field& field = FieldOf(t, handle, id, "GetObjectField", obj);
        if (!field.isObject) Fail("GetObjectField: %s is not an object field", field.name.c_str());
        Obj*& value = obj->objectFields[field.name];
        if (value == nullptr) value = NewObj(Kind::Object, ClassNamed("java/util/HashSet"));
        return Local(t, value);
    });
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass clazz, jmethodID id, va_list va) noexcept {
    return Guard(env, "NewObjectV", Pending::Forbidden, [&](ThreadState& t) {
        Obj* cls = NeedClass(t, clazz, "NewObjectV");
        const Method& method = MethodOf(id, "NewObjectV");
        if (std::strcmp(method.name, "<init>") != 0 || OwnerName(method) != cls->name) {
            Fail("NewObjectV: %s.%s is not a constructor of %s", OwnerName(method).c_str(), method.name,
                 cls->name.c_str());
        }
        const std::vector<jvalue> args = ArgsFrom(method.sig, va);
        Obj* obj = NewObj(Kind::Object, cls);
        method.impl(t, obj, args.data());
        return Local(t, obj);
    });
}

jobject JNICALL NewObject(JNIEnv* env, jclass clazz, jmethodID id, ...) noexcept {
    va_list va;
    va_start(va, id);
    jobject result = NewObjectV(env, clazz, id, va);
    va_end(va);
    return result;
}

jobject JNICALL AllocObject(JNIEnv* env, jclass clazz) noexcept {
    return Guard(env, "AllocObject", Pending::Forbidden, [&](ThreadState& t) {
        return Local(t, NewObj(Kind::Object, NeedClass(t, clazz, "AllocObject")));
    });
}

jboolean JNICALL CallBooleanMethodV(JNIEnv* env, jobject o, jmethodID m, va_list va) noexcept {
    return CallV(env, "CallBooleanMethodV", false, Ret::Other, o, m, va).z;
}

jboolean JNICALL CallBooleanMethod(JNIEnv* env, jobject o, jmethodID m, ...) noexcept {
    va_list va;
    va_start(va, m);
    const jboolean result = CallV(env, "CallBooleanMethod", false, Ret::Other, o, m, va).z;
    va_end(va);
    return result;
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject handle, jclass clazz) noexcept {
    return Guard(env, "IsInstanceOf", Pending::Forbidden, [&](ThreadState& t) -> jboolean {
        Obj* obj = Deref(t, handle, "IsInstanceOf");
        return IsInstance(obj, NeedClass(t, clazz, "IsInstanceOf")) ? JNI_TRUE : JNI_FALSE;
    });
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) noexcept;

jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity) noexcept {
    return Guard(env, "PushLocalFrame", Pending::Allowed, [&](ThreadState& t) -> jint {
        if (capacity < 0) {
            Throw(t, "java/lang/OutOfMemoryError", "negative local frame capacity");
            return JNI_ERR;
        }
        t.frames.emplace_back();
        return JNI_OK;
    });
}

jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result) noexcept {
    return Guard(env, "PopLocalFrame", Pending::Allowed, [&](ThreadState& t) {
        if (t.frames.size() < 2) Fail("PopLocalFrame: no frame pushed by PushLocalFrame");
        Obj* kept = Deref(t, result, "PopLocalFrame");
        for (Ref* ref : t.frames.back()) ref->live = false;
        t.frames.pop_back();
        return Local(t, kept);
    });
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity) noexcept {
    return Guard(env, "EnsureLocalCapacity", Pending::Forbidden, [&](ThreadState& t) -> jint {
        if (capacity < 0) {
            Throw(t, "java/lang/OutOfMemoryError", "negative local capacity");
            return JNI_ERR;
        }
        return JNI_OK;
    });
}

// ---- the function table -----------------------------------------------------------------------

using Slot = void(JNICALL*)();
constexpr std::size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);
static_assert(sizeof(JNINativeInterface_) == kSlots * sizeof(void*), "table of pointers");
static_assert(sizeof(Slot) == sizeof(void*), "function and data pointers of one size");

// One trap per slot so the log names the function the launcher reached for.
template <std::size_t I>
void JNICALL Trap() noexcept {
    Unimplemented(I);
}

template <std::size_t... I>
std::array<Slot, sizeof...(I)> Traps(std::index_sequence<I...>) {
    return {&Trap<I>...};
}

JNINativeInterface_ BuildTable() {
    JNINativeInterface_ table{};
    const auto traps = Traps(std::make_index_sequence<kSlots>{});
    // The first four slots are reserved and stay null, as in a real runtime.
    for (std::size_t i = 4; i < kSlots; ++i) {
        std::memcpy(reinterpret_cast<unsigned char*>(&table) + i * sizeof(void*), &traps[i],
                    sizeof(Slot));
    }
    table.GetVersion = &GetVersion;
    table.FindClass = &FindClass;
    table.GetStaticMethodID = &GetStaticMethodID;
    table.GetMethodID = &GetMethodID;
    table.CallStaticObjectMethod = &CallStaticObjectMethod;
    table.CallStaticObjectMethodV = &CallStaticObjectMethodV;
    table.CallStaticObjectMethodA = &CallStaticObjectMethodA;
    table.CallStaticVoidMethod = &CallStaticVoidMethod;
    table.CallStaticVoidMethodV = &CallStaticVoidMethodV;
    table.CallStaticVoidMethodA = &CallStaticVoidMethodA;
    table.CallStaticIntMethod = &CallStaticIntMethod;
    table.CallStaticIntMethodV = &CallStaticIntMethodV;
    table.CallStaticIntMethodA = &CallStaticIntMethodA;
    table.CallVoidMethod = &CallVoidMethod;
    table.CallVoidMethodV = &CallVoidMethodV;
    table.CallVoidMethodA = &CallVoidMethodA;
    table.CallObjectMethod = &CallObjectMethod;
    table.CallObjectMethodV = &CallObjectMethodV;
    table.CallObjectMethodA = &CallObjectMethodA;
    table.NewStringUTF = &NewStringUTF;
    table.NewString = &NewString;
    table.GetStringLength = &GetStringLength;
    table.GetStringUTFLength = &GetStringUTFLength;
    table.GetStringChars = &GetStringChars;
    table.ReleaseStringChars = &ReleaseStringChars;
    table.GetStringUTFChars = &GetStringUTFChars;
    table.ReleaseStringUTFChars = &ReleaseStringUTFChars;
    table.NewObjectArray = &NewObjectArray;
    table.SetObjectArrayElement = &SetObjectArrayElement;
    table.GetArrayLength = &GetArrayLength;
    table.NewIntArray = &NewIntArray;
    table.SetIntArrayRegion = &SetIntArrayRegion;
    table.DeleteLocalRef = &DeleteLocalRef;
    table.NewGlobalRef = &NewGlobalRef;
    table.DeleteGlobalRef = &DeleteGlobalRef;
    table.ExceptionOccurred = &ExceptionOccurred;
    table.ExceptionDescribe = &ExceptionDescribe;
    table.ExceptionClear = &ExceptionClear;
    table.ExceptionCheck = &ExceptionCheck;
    table.RegisterNatives = &RegisterNatives;
    table.GetObjectClass = &GetObjectClass;
    table.GetFieldID = &GetFieldID;
    table.GetLongField = &GetLongField;
    table.SetLongField = &SetLongField;
    table.IsInstanceOf = &IsInstanceOf;
    table.GetObjectField = &GetObjectField;
    table.AllocObject = &AllocObject;
    table.NewObject = &NewObject;
    table.NewObjectV = &NewObjectV;
    table.CallBooleanMethod = &CallBooleanMethod;
    table.CallBooleanMethodV = &CallBooleanMethodV;
    table.GetJavaVM = &GetJavaVM;
    table.PushLocalFrame = &PushLocalFrame;
    table.PopLocalFrame = &PopLocalFrame;
    table.EnsureLocalCapacity = &EnsureLocalCapacity;
    return table;
}

const JNINativeInterface_* Table() {
    static const JNINativeInterface_ table = BuildTable();
    return &table;
}

// ---- the invocation interface -----------------------------------------------------------------

JavaVM& TheVm();

void CheckVm(JavaVM* vm, const char* fn) {
    if (vm != &TheVm()) Fail("%s: not the JavaVM this runtime created", fn);
}

// The invocation functions' counterpart of Guard.
template <class Body>
jint VmGuard(JavaVM* vm, const char* fn, Body&& body) noexcept {
    std::lock_guard<std::mutex> lock(S().mutex);
    try {
        CheckVm(vm, fn);
        return body(S());
    } catch (const std::exception& error) {
        Fail("%s: %s", fn, error.what());
    } catch (...) {
        Fail("%s: unexpected failure", fn);
    }
}

jint JNICALL DestroyJavaVM(JavaVM* vm) noexcept {
    // The scenario's thread stands for a non-daemon thread: the runtime waits for it.
    JoinScenarioThreads();
    return VmGuard(vm, "DestroyJavaVM", [](State& s) -> jint {
        Log("destroy");
        if (!s.created || s.destroyed) return JNI_ERR;
        DetachHere();
        s.destroyed = true;
        return JNI_OK;
    });
}

jint Attach(JavaVM* vm, void** penv, void* rawArgs, const char* fn, const char* line) noexcept {
    return VmGuard(vm, fn, [&](State& s) -> jint {
        if (penv == nullptr) Fail("%s: null result pointer", fn);
        *penv = nullptr;
        Log(line);
        if (s.destroyed) return JNI_ERR;
        const auto* args = static_cast<const JavaVMAttachArgs*>(rawArgs);
        if (args != nullptr && !SupportedVersion(args->version)) return JNI_EVERSION;
        *penv = &AttachHere().env;
        return JNI_OK;
    });
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void* args) noexcept {
    return Attach(vm, penv, args, "AttachCurrentThread", "attach");
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* vm, void** penv, void* args) noexcept {
    return Attach(vm, penv, args, "AttachCurrentThreadAsDaemon", "attach daemon");
}

jint JNICALL DetachCurrentThread(JavaVM* vm) noexcept {
    return VmGuard(vm, "DetachCurrentThread", [](State&) -> jint {
        Log("detach");
        DetachHere();
        return JNI_OK;
    });
}

jint JNICALL GetEnv(JavaVM* vm, void** penv, jint version) noexcept {
    return VmGuard(vm, "GetEnv", [&](State& s) -> jint {
        if (penv == nullptr) Fail("GetEnv: null result pointer");
        *penv = nullptr;
        if (version != JNI_VERSION_1_1 && !SupportedVersion(version)) return JNI_EVERSION;
        if (s.destroyed || t_state == nullptr || !t_state->attached) return JNI_EDETACHED;
        *penv = &t_state->env;
        return JNI_OK;
    });
}

const JNIInvokeInterface_ kInvoke = {
    nullptr,
    nullptr,
    nullptr,
    &DestroyJavaVM,
    &AttachCurrentThread,
    &DetachCurrentThread,
    &GetEnv,
    &AttachCurrentThreadAsDaemon,
};

JavaVM& TheVm() {
    static JavaVM vm{&kInvoke};
    return vm;
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) noexcept {
    return Guard(env, "GetJavaVM", Pending::Forbidden, [&](ThreadState&) -> jint {
        if (vm == nullptr) Fail("GetJavaVM: null result pointer");
        *vm = &TheVm();
        return JNI_OK;
    });
}

// ---- creation -------------------------------------------------------------------------------

// The runtime's own properties: -D options first, then what the environment asks for.
void SetUpProperties(const JavaVMInitArgs& args) {
    State& s = S();
    s.properties.clear();
    for (jint i = 0; i < args.nOptions; ++i) {
        const char* option = args.options[i].optionString;
        if (std::strncmp(option, "-D", 2) != 0) continue;
        const char* equals = std::strchr(option + 2, '=');
        const std::string name = equals != nullptr ? std::string(option + 2, equals) : option + 2;
        if (name.empty()) continue;
        s.properties[Utf16ToUtf8(DecodeModifiedUtf8(name.c_str()))] =
            NewJavaStringUtf(equals != nullptr ? equals + 1 : "");
    }
    if (s.config.javaVersion) {
        s.properties["java.version"] = NewJavaStringUtf(s.config.javaVersion->c_str());
    } else {
        s.properties.erase("java.version");
    }
}

[[maybe_unused]] jint CreateVm(JavaVM** pvm, void** penv, void* rawArgs) noexcept {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    try {
        OpenLog();
        if (pvm == nullptr || penv == nullptr) Fail("JNI_CreateJavaVM: null result pointer");
        *pvm = nullptr;
        *penv = nullptr;
        if (rawArgs == nullptr) Fail("JNI_CreateJavaVM: no arguments");
        const auto& args = *static_cast<const JavaVMInitArgs*>(rawArgs);
        if (args.nOptions < 0 || (args.nOptions > 0 && args.options == nullptr)) {
            Fail("JNI_CreateJavaVM: bad option list (count %ld)", static_cast<long>(args.nOptions));
        }
        char head[128];
        std::snprintf(head, sizeof head, "create version=0x%lx options=%ld ignoreUnrecognized=%d",
                      static_cast<unsigned long>(static_cast<std::uint32_t>(args.version)),
                      static_cast<long>(args.nOptions), static_cast<int>(args.ignoreUnrecognized));
        Log(head);
        for (jint i = 0; i < args.nOptions; ++i) {
            const char* option = args.options[i].optionString;
            if (option == nullptr) {
                Fail("JNI_CreateJavaVM: option %ld has no text", static_cast<long>(i));
            }
            Log(std::string("option ") + option);
        }
        s.config = ReadConfig();
        if (s.config.refuse) {
            Log("create refused");
            return JNI_ERR;
        }
        if (!SupportedVersion(args.version)) {
            Log("create badVersion");
            return JNI_EVERSION;
        }
        if (s.created) {
            Log("create exists");
            return JNI_EEXIST;
        }
        SetUpProperties(args);
        ThreadState& t = AttachHere();
        s.created = true;
        *pvm = &TheVm();
        *penv = &t.env;
        return JNI_OK;
    } catch (const std::exception& error) {
        Fail("JNI_CreateJavaVM: %s", error.what());
    } catch (...) {
        Fail("JNI_CreateJavaVM: unexpected failure");
    }
}

[[maybe_unused]] jint DefaultInitArgs(void* args) noexcept {
    if (args == nullptr) return JNI_ERR;
    return SupportedVersion(static_cast<const JavaVMInitArgs*>(args)->version) ? JNI_OK
                                                                               : JNI_EVERSION;
}

[[maybe_unused]] jint CreatedVms(JavaVM** vms, jsize size, jsize* count) noexcept {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    const bool alive = s.created && !s.destroyed;
    if (count != nullptr) *count = alive ? 1 : 0;
    if (alive && vms != nullptr && size > 0) vms[0] = &TheVm();
    return JNI_OK;
}

}  // namespace
}  // namespace fakejvm

// The variants differ only in which of these a launcher can find.
#if defined(VXO_FAKEJVM_FULL)
extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    return fakejvm::CreateVm(pvm, penv, args);
}

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    return fakejvm::DefaultInitArgs(args);
}

extern "C" JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
    return fakejvm::CreatedVms(vms, size, count);
}
#elif defined(VXO_FAKEJVM_IMPL_ONLY)
extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM_Impl(JavaVM** pvm, void** penv, void* args) {
    return fakejvm::CreateVm(pvm, penv, args);
}
#elif !defined(VXO_FAKEJVM_NO_ENTRY)
#error "define one of VXO_FAKEJVM_FULL, VXO_FAKEJVM_IMPL_ONLY, VXO_FAKEJVM_NO_ENTRY"
#endif
