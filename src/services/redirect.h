// Output redirection: standard output and error to a file or into a started program.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <jni.h>

#include "platform/platform.h"

namespace vxo {

class OutputRedirector {
public:
    OutputRedirector() = default;
    OutputRedirector(const OutputRedirector&) = delete;
    OutputRedirector& operator=(const OutputRedirector&) = delete;
    // Closes the targets, then gives the process its standard streams back.
    ~OutputRedirector();

    // Sends one standard stream to the target of value ("|command" or a file path). A stream is
    // redirected once per process; a target that fails to open leaves the stream as it was.
    void Redirect(platform::StandardStream stream, const std::string& value);
    // Where the system's handle did not follow, System.out or System.err writes through a
    // RedirOutputStream instead.
    void SetupJava(JNIEnv* env) const;

    // The target handle chosen for a stream, kNoOutput when none.
    platform::OutputHandle HandleOf(platform::StandardStream stream) const;
    // Whether handle is one of the open targets: RedirOutputStream writes nowhere else (its
    // field starts at 0, which is standard input on POSIX). Targets are made during start-up,
    // before Java code runs, so reading them later needs no lock.
    bool Owns(platform::OutputHandle handle) const;

private:
    struct Target {
        std::string name;
        platform::OutputHandle handle = platform::kNoOutput;
        bool command = false;
    };
    struct Stream {
        platform::SavedStream saved;
        platform::OutputHandle handle = platform::kNoOutput;
        bool switched = false;
        bool javaSide = false;
    };

    const Target& TargetFor(const std::string& value);
    Stream& StateOf(platform::StandardStream stream);
    const Stream& StateOf(platform::StandardStream stream) const;

    std::vector<std::unique_ptr<Target>> targets_;
    Stream output_;
    Stream error_;
};

// The process's redirector, built before the entry function and torn down at exit.
OutputRedirector& ProcessRedirector();

}  // namespace vxo
