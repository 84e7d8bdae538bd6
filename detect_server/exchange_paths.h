#pragma once
// The files through which a client drives the server.

namespace sarvik_paths {
constexpr const char* kCommandFile = "/tmp/sarvik_test.cmd";  // written by the client, removed by the server
constexpr const char* kRunMarker = "/tmp/sarvik.run";         // rewritten after every command
constexpr const char* kLogFile = "/tmp/sarvik.log";           // the latest log line
constexpr const char* kResultImage = "/tmp/sarvik_result.png"; // the image of the latest test
constexpr const char* kLockFile = "/tmp/sarvik.lock";        // held while a server serves this /tmp
constexpr const char* kDefaultModelDir = "/tmp/sarvik_model_test";
constexpr const char* kDefaultImage = "/tmp/sarvik_img_test.png";
} // namespace sarvik_paths
