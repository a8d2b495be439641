// Small RAII guards both modules use: a held host mutex and an owned JNI local reference.
#pragma once

#include <jni.h>

#include <utility>

#include "host/qxhost.h"

namespace extframe {

// Holds a host mutex for a scope.
class MutexLock {
 public:
  explicit MutexLock(QXMutex *mutex) : mutex_(mutex) { mutex_->lock(mutex_, 1, 1); }
  ~MutexLock() { mutex_->unlock(mutex_); }
  MutexLock(const MutexLock &) = delete;
  MutexLock &operator=(const MutexLock &) = delete;

 private:
  QXMutex *mutex_;
};

// Owns a JNI local reference and deletes it at the end of the scope.
template <typename T>
class LocalRef {
 public:
  LocalRef(JNIEnv *env, T ref) : env_(env), ref_(ref) {}
  ~LocalRef() {
    if (ref_) env_->DeleteLocalRef(ref_);
  }
  LocalRef(LocalRef &&other) noexcept : env_(other.env_), ref_(other.release()) {}
  LocalRef &operator=(LocalRef &&other) noexcept {
    if (this != &other) {
      if (ref_) env_->DeleteLocalRef(ref_);
      env_ = other.env_;
      ref_ = other.release();
    }
    return *this;
  }
  LocalRef(const LocalRef &) = delete;
  LocalRef &operator=(const LocalRef &) = delete;
  T get() const { return ref_; }
  T release() { return std::exchange(ref_, nullptr); }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  JNIEnv *env_;
  T ref_;
};

}  // namespace extframe
