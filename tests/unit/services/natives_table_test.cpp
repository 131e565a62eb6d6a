// Companion natives: the tables against natives.txt, the export names the runtime binds by, and
// the bodies' failure handling against a fake JNIEnv (no JVM needed).
#include "services/natives.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vxo {
namespace {

using natives_detail::IsMethodDescriptor;

// The table rows are checked in constant expressions; so is the parser.
static_assert(IsMethodDescriptor("()V"));
static_assert(IsMethodDescriptor("(I[[JLjava/lang/String;)[Ljava/lang/Object;"));
static_assert(!IsMethodDescriptor("(Ljava/lang/String)V"));

// Only the SplashScreen lines of natives.txt are left to check_natives.sh, which links the
// windowed image's table; these tests link the console flavour.
const char kWindowedOnlyClass[] = "com/lumenfold/vxo/SplashScreen";

std::string Row(const std::string& cls, const NativeMethod& m) {
    return cls + " " + m.name + " " + m.signature + (m.isStatic ? " static" : " instance");
}

std::vector<std::string> ExpectedRows() {
    // Beside this source file: ctest runs the binary from the build tree.
    const std::filesystem::path file = std::filesystem::path(VXO_UNIT_SOURCE_DIR) / "services" / "natives.txt";
    std::ifstream in(file);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::vector<std::string> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        rows.push_back(line);
    }
    return rows;
}

std::string ClassOf(const std::string& row) { return row.substr(0, row.find(' ')); }

std::string Mangle(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '/') {
            out += '_';
        } else if (c == '_') {
            out += "_1";
        } else if (c == ';') {
            out += "_2";
        } else if (c == '[') {
            out += "_3";
        } else if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "_0%04x", c);
            out += escaped;
        }
    }
    return out;
}

bool IsJavaIdentifier(const std::string& s) {
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    for (unsigned char c : s) {
        if (!std::isalnum(c) && c != '_' && c != '$') return false;
    }
    return true;
}

bool IsInternalClassName(const std::string& s) {
    const char* p = s.c_str();
    std::string asField = "L" + s + ";";
    const char* f = asField.c_str();
    return !s.empty() && *p != '[' && natives_detail::SkipFieldType(f) && *f == '\0';
}

std::vector<const NativeTable*> CoreTables() {
    std::vector<const NativeTable*> tables;
    for (std::size_t i = 0; i < kCoreNativeCount; ++i) tables.push_back(&kCoreNatives[i]);
    return tables;
}

TEST(NativesTable, RowsAreWellFormed) {
    std::set<std::string> classes;
    for (const NativeTable* table : CoreTables()) {
        SCOPED_TRACE(table->className);
        EXPECT_TRUE(IsInternalClassName(table->className));
        EXPECT_TRUE(classes.insert(table->className).second) << "class listed twice";
        EXPECT_GT(table->count, 0u);
        std::set<std::string> keys;
        for (std::size_t i = 0; i < table->count; ++i) {
            const NativeMethod& m = table->methods[i];
            SCOPED_TRACE(m.name);
            EXPECT_TRUE(IsJavaIdentifier(m.name));
            EXPECT_TRUE(IsMethodDescriptor(m.signature)) << m.signature;
            ASSERT_NE(m.address, nullptr);
            EXPECT_NE(m.address(), nullptr);
            EXPECT_TRUE(keys.insert(std::string(m.name) + m.signature).second) << "row listed twice";
        }
    }
}

// The exported symbol must be the one the JVM looks up: the short form, or the long form when
// another native of the class shares the name.
TEST(NativesTable, ExportNamesFollowJniMangling) {
    for (const NativeTable* table : CoreTables()) {
        for (std::size_t i = 0; i < table->count; ++i) {
            const NativeMethod& m = table->methods[i];
            int sharing = 0;
            for (std::size_t j = 0; j < table->count; ++j) {
                sharing += std::strcmp(table->methods[j].name, m.name) == 0;
            }
            std::string expected = "Java_" + Mangle(table->className) + "_" + Mangle(m.name);
            if (sharing > 1) {
                std::string sig = m.signature;
                expected += "__" + Mangle(sig.substr(1, sig.find(')') - 1));
            }
            EXPECT_EQ(m.exportName, expected) << table->className << "." << m.name << m.signature;
        }
    }
}

TEST(NativesTable, MatchesTheExpectedList) {
    std::vector<std::string> expected = ExpectedRows();
    std::set<std::string> wanted;
    std::set<std::string> otherClasses;
    for (const std::string& row : expected) {
        EXPECT_TRUE(wanted.insert(row).second) << "natives.txt repeats: " << row;
        otherClasses.insert(ClassOf(row));
    }
    std::set<std::string> actual;
    for (const NativeTable* table : CoreTables()) {
        otherClasses.erase(table->className);
        for (std::size_t i = 0; i < table->count; ++i) actual.insert(Row(table->className, table->methods[i]));
    }
    for (auto it = wanted.begin(); it != wanted.end();) {
        it = ClassOf(*it) == kWindowedOnlyClass ? wanted.erase(it) : std::next(it);
    }
    EXPECT_EQ(actual, wanted);
    EXPECT_EQ(otherClasses, std::set<std::string>{kWindowedOnlyClass});
}

// A JNIEnv with only what the natives' bodies use, over in-memory classes.
class FakeJvm {
public:
    FakeJvm() {
        std::memset(&functions_, 0, sizeof functions_);
        functions_.FindClass = &FindClass;
        functions_.ExceptionOccurred = &ExceptionOccurred;
        functions_.ExceptionClear = &ExceptionClear;
        functions_.ExceptionCheck = &ExceptionCheck;
        functions_.DeleteLocalRef = &DeleteLocalRef;
        functions_.ThrowNew = &ThrowNew;
        functions_.NewIntArray = &NewIntArray;
        env_.functions = &functions_;
        current_ = this;
        Add("java/lang/Error");
    }
    ~FakeJvm() { current_ = nullptr; }

    JNIEnv* Env() { return &env_; }
    void Add(const std::string& className) { classes_[className]; }
    std::vector<std::string> thrown;
    std::vector<jsize> intArrays;
    int deletedRefs = 0;
    jthrowable pending = nullptr;

private:
    static FakeJvm& Self() { return *current_; }

    jclass Handle(const std::string& name) { return &classes_.find(name)->second; }
    std::string NameOf(jclass cls) {
        for (auto& entry : classes_) {
            if (&entry.second == cls) return entry.first;
        }
        return "?";
    }

    static jclass JNICALL FindClass(JNIEnv*, const char* name) {
        FakeJvm& self = Self();
        if (self.classes_.count(name) == 0) {
            self.pending = &self.noClassDefFound_;
            return nullptr;
        }
        return self.Handle(name);
    }
    static jthrowable JNICALL ExceptionOccurred(JNIEnv*) { return Self().pending; }
    static void JNICALL ExceptionClear(JNIEnv*) { Self().pending = nullptr; }
    static jboolean JNICALL ExceptionCheck(JNIEnv*) { return Self().pending != nullptr; }
    static void JNICALL DeleteLocalRef(JNIEnv*, jobject) { ++Self().deletedRefs; }
    static jint JNICALL ThrowNew(JNIEnv*, jclass cls, const char* message) {
        FakeJvm& self = Self();
        self.thrown.push_back(self.NameOf(cls) + ": " + message);
        self.pending = &self.thrownError_;
        return JNI_OK;
    }
    static jintArray JNICALL NewIntArray(JNIEnv*, jsize length) {
        FakeJvm& self = Self();
        self.intArrays.push_back(length);
        return &self.intArray_;
    }

    static FakeJvm* current_;
    JNIEnv env_;
    JNINativeInterface_ functions_;
    std::map<std::string, _jclass> classes_;
    _jthrowable noClassDefFound_, thrownError_;
    _jintArray intArray_;
};
FakeJvm* FakeJvm::current_ = nullptr;

TEST(NativesPlaceholders, AnswerAsIfNoServiceRuns) {
    FakeJvm jvm;
    EXPECT_EQ(Java_com_lumenfold_vxo_Instances_getFirstInstance(jvm.Env(), nullptr), -1);
    EXPECT_EQ(Java_com_lumenfold_vxo_Instances_getCurrentInstance(jvm.Env(), nullptr), -1);
    EXPECT_NE(Java_com_lumenfold_vxo_Instances_getInstances(jvm.Env(), nullptr), nullptr);
    EXPECT_EQ(jvm.intArrays, std::vector<jsize>{0});
    Java_com_lumenfold_vxo_SystemTray_Show(jvm.Env(), nullptr);
    EXPECT_EQ(jvm.pending, nullptr);
}

TEST(NativesPlaceholders, AFailingBodyBecomesAJavaError) {
    FakeJvm jvm;
    jint result =
        Guarded(jvm.Env(), "Test.fails", jint{-5}, []() -> jint { throw std::runtime_error("boom"); });
    EXPECT_EQ(result, -5);
    EXPECT_EQ(jvm.thrown, std::vector<std::string>{"java/lang/Error: launcher failure in Test.fails"});
    EXPECT_NE(jvm.pending, nullptr);
}

}  // namespace
}  // namespace vxo
