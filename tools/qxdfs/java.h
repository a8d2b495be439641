// Hadoop's client reached directly through the bridge, for what the shell needs beyond dfslink's
// operations (the trash, for one). A chain of calls stops at its first failure and keeps the
// Java exception's text for the failure line; nothing is left pending.
#pragma once

#include <string>
#include <string_view>

#include "extframe/guards.h"
#include "tools/qxdfs/session.h"

namespace qxdfs {

using extframe::LocalRef;

class Java {
 public:
  explicit Java(Session &session);
  ~Java();
  Java(const Java &) = delete;
  Java &operator=(const Java &) = delete;

  // Whether every call so far went through.
  explicit operator bool() const { return env_ && error_.empty(); }
  // What the first failure said ("" while none).
  const std::string &error() const { return error_; }
  // Whether the first failure was a path that is not there (a FileNotFoundException).
  bool notFound() const { return notFound_; }
  // Whether it was a refusal of access (an AccessControlException).
  bool denied() const { return denied_; }
  // Whether it was an argument Java refused (an IllegalArgumentException: an empty path).
  bool illegal() const { return illegal_; }
  JNIEnv *env() const { return env_; }

  LocalRef<jstring> string(std::string_view utf8);
  // A Java string's text as UTF-8; "" for null.
  std::string text(jobject string);
  // An org.apache.hadoop.fs.Path of a path.
  LocalRef<jobject> path(const std::string &path);

  // An instance method with an object result (a null reference after a failure).
  template <typename... Arguments>
  LocalRef<jobject> call(jobject target, const char *type, const char *method,
                         const char *descriptor, Arguments... arguments) {
    jobject result = nullptr;
    invoke(&result, JVMLINK_INSTANCE, target, type, method, descriptor, arguments...);
    return LocalRef<jobject>(env_, result);
  }
  // An instance method with a primitive result (Result() after a failure), or none.
  template <typename Result, typename... Arguments>
  Result value(jobject target, const char *type, const char *method, const char *descriptor,
               Arguments... arguments) {
    Result result{};
    invoke(&result, JVMLINK_INSTANCE, target, type, method, descriptor, arguments...);
    return result;
  }
  template <typename... Arguments>
  LocalRef<jobject> callStatic(const char *type, const char *method, const char *descriptor,
                               Arguments... arguments) {
    jobject result = nullptr;
    invoke(&result, JVMLINK_STATIC, nullptr, type, method, descriptor, arguments...);
    return LocalRef<jobject>(env_, result);
  }
  template <typename Result, typename... Arguments>
  Result valueStatic(const char *type, const char *method, const char *descriptor,
                     Arguments... arguments) {
    Result result{};
    invoke(&result, JVMLINK_STATIC, nullptr, type, method, descriptor, arguments...);
    return result;
  }
  // A new object (a null reference after a failure).
  template <typename... Arguments>
  LocalRef<jobject> make(const char *type, const char *descriptor, Arguments... arguments) {
    if (!*this) return LocalRef<jobject>(env_, nullptr);
    BridgeState *bridge = session_.dfs()->jvm;
    jobject made = bridge->operations.constructNewObjectOfClass(bridge, session_.context(), env_,
                                                                type, descriptor, arguments...);
    if (!made) takeFailure(nullptr);
    return LocalRef<jobject>(env_, made);
  }

 private:
  template <typename... Arguments>
  void invoke(void *result, int32_t kind, jobject target, const char *type, const char *method,
              const char *descriptor, Arguments... arguments) {
    if (!*this) return;
    BridgeState *bridge = session_.dfs()->jvm;
    jthrowable thrown = nullptr;
    if (bridge->operations.invokeMethod(bridge, session_.context(), env_, result, &thrown, kind,
                                        target, type, 0, method, descriptor, arguments...) != 0) {
      takeFailure(thrown);
    }
  }
  // Keeps the text of what was thrown (or is pending) as the chain's failure.
  void takeFailure(jthrowable thrown);

  Session &session_;
  JNIEnv *env_;
  std::string error_;
  bool notFound_ = false;
  bool denied_ = false;
  bool illegal_ = false;
};

}  // namespace qxdfs
