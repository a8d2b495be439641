#include "tools/qxdfs/java.h"

namespace qxdfs {

Java::Java(Session &session) : session_(session) {
  BridgeState *bridge = session.dfs()->jvm;
  env_ = bridge->operations.getJNIEnv(bridge, session.context());
  if (!env_) error_ = "no JNI environment";
}

Java::~Java() {
  if (env_ && env_->ExceptionCheck()) env_->ExceptionClear();
}

LocalRef<jstring> Java::string(std::string_view utf8) {
  std::u16string units = qx(std::string(utf8));
  jstring made = *this ? env_->NewString(reinterpret_cast<const jchar *>(units.data()),
                                         static_cast<jsize>(units.size()))
                       : nullptr;
  if (!made && *this) takeFailure(nullptr);
  return LocalRef<jstring>(env_, made);
}

std::string Java::text(jobject string) {
  if (!string || !env_) return "";
  auto text = static_cast<jstring>(string);
  std::u16string units(static_cast<size_t>(env_->GetStringLength(text)), u'\0');
  env_->GetStringRegion(text, 0, static_cast<jsize>(units.size()),
                        reinterpret_cast<jchar *>(units.data()));
  return utf8(units);
}

LocalRef<jobject> Java::path(const std::string &path) {
  LocalRef<jstring> text = string(path);
  return make("org/apache/hadoop/fs/Path", "(Ljava/lang/String;)V", text.get());
}

void Java::takeFailure(jthrowable thrown) {
  LocalRef<jthrowable> exception(env_, thrown ? thrown : env_->ExceptionOccurred());
  env_->ExceptionClear();
  session_.forget();
  error_ = "failed";
  if (!exception) return;
  auto isA = [&](const char *type) {
    LocalRef<jclass> found(env_, env_->FindClass(type));
    if (env_->ExceptionCheck()) env_->ExceptionClear();
    return found && env_->IsInstanceOf(exception.get(), found.get());
  };
  notFound_ = isA("java/io/FileNotFoundException");
  denied_ = isA("org/apache/hadoop/security/AccessControlException");
  illegal_ = isA("java/lang/IllegalArgumentException");
  BridgeState *bridge = session_.dfs()->jvm;
  jobject message = nullptr;
  for (const char *method : {"getLocalizedMessage", "toString"}) {
    bridge->operations.invokeMethod(bridge, session_.context(), env_, &message, nullptr,
                                    JVMLINK_INSTANCE, exception.get(), "java/lang/Throwable", 0,
                                    method, "()Ljava/lang/String;");
    LocalRef<jobject> messageRef(env_, message);
    if (env_->ExceptionCheck()) env_->ExceptionClear();
    std::string said = text(message);
    message = nullptr;
    if (!said.empty()) {
      std::string lacking = session_.credentialsCause(said);
      error_ = lacking.empty() ? said.substr(0, said.find('\n')) : lacking;
      break;
    }
  }
  session_.forget();
}

}  // namespace qxdfs
