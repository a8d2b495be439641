// The host's message texts, one for every status code the modules raise. Each text's
// conversions say which arguments the code takes: %hs narrow text, %s QXChar text, %d int.
#include <unordered_map>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

const std::unordered_map<uint32_t, const char *> &catalogue() {
  static const std::unordered_map<uint32_t, const char *> texts = {
      // host kernel and I/O engine
      {0x803FC002, "out of memory"},
      {0x803FC003, "a required argument is missing"},
      {0x803FC009, "the operation failed"},
      {0x803FC064, "end of input"},
      {0x803FC26A, "the option is not set"},
      {0x803FC32B, "no locale service for number parsing"},
      {0x803FE811, "the number is out of range"},
      {0x803FE812, "the text is not a number"},
      {0x803FE813, "the value does not fit its buffer"},
      {0x803FE814, "the XML document is malformed at line %d, column %d: %hs"},
      {0x80BFE801, "not found: %s"},
      {0x80BFE80A, "end of file"},
      {0x80BFE826, "the directory cannot be listed"},
      {0x80BFE827, "a name in the directory is not valid text"},
      // jvmlink
      {0x86BFF001, "%hs: the method kind must be 0 (static) or 1 (instance)"},
      {0x86BFF002, "%hs: the class cache cannot be created"},
      {0x86BFF003, "%hs: class %s cannot be entered in the class cache"},
      {0x86BFF004, "%hs: class %s cannot be found"},
      {0x86BFF005, "%hs: the Java array cannot be created"},
      {0x86BFF006, "%hs: a Java string cannot be created"},
      {0x86BFF007, "%hs: method %s of class %s with descriptor %s cannot be found"},
      {0x86BFF008, "%hs: no memory for the name of class %s"},
      {0x86BFF009, "%hs: the thread cannot be attached to the JVM"},
      {0x86BFF00A, "%hs: the JVM cannot apply the class path"},
      {0x86BFF00B, "%hs: no JNI environment for this thread"},
      {0x86BFF00C, "%hs: a name cannot be converted with transcoder %s"},
      {0x86BFF00D, "%hs: %d bytes cannot be allocated"},
      {0x86BFF00F, "%hs: the call of %s.%s failed"},
      {0x86BFF010, "%hs: the constructor of class %hs failed"},
      {0x86BFF011, "%hs: the object cannot be constructed"},
      {0x86BFF012, "the class cache mutex cannot be created"},
      {0x86BFF013, "the JVM mutex cannot be created"},
      {0x86BFF014, "no JVM is available"},
      {0x86BFF015, "extension %s is not available"},
      {0x86BFF016, "transcoder %s cannot be created"},
      // dfslink
      {0x86BFF801, "%hs: no file handle"},
      {0x86BFF802, "%hs: the file is not open"},
      {0x86BFF803, "%hs: the file is not open for reading"},
      {0x86BFF804, "%hs: the file is not open for writing"},
      {0x86BFF805, "%hs: no JNI environment for this thread"},
      {0x86BFF806, "%hs: text cannot be converted with transcoder %s"},
      {0x86BFF807, "%hs: negative length"},
      {0x86BFF808, "%hs: no connection handle"},
      {0x86BFF809, "%hs: neither owner nor group given"},
      {0x86BFF80A, "%hs: a Path object cannot be made for %s"},
      {0x86BFF80B, "%hs: the file system is not a distributed file system"},
      {0x86BFF80C, "%hs: the path cannot be used"},
      {0x86BFF80D, "the path does not exist"},
      {0x86BFF80E, "%hs: the Java compilation failed"},
      {0x86BFF80F, "%hs: the jar entry class failed"},
      {0x86BFF810, "%hs: class %s cannot be found"},
      {0x86BFF811, "%hs: no Java exception to report"},
      {0x86BFF812, "%hs: files cannot be opened for reading and writing at once"},
      {0x86BFF813, "%hs: the existence test failed"},
      {0x86BFF814, "%hs: the read failed"},
      {0x86BFF815, "%hs: the read returned the unexpected count %d"},
      {0x86BFF816, "%hs: the write failed"},
      {0x86BFF817, "%hs: the seek failed"},
      {0x86BFF818, "%hs: a Java string cannot be created"},
      {0x86BFF819, "%hs: the Java array cannot be created"},
      {0x86BFF81A, "%hs: the map job failed"},
      {0x86BFF81B, "%hs: the Java text cannot be shown"},
      {0x86BFF81C, "%hs: no system Java compiler"},
      {0x86BFF81D, "%hs: no file manager for the Java compiler"},
      {0x86BFF81E, "%hs: the Java byte array cannot be created"},
      {0x86BFF81F, "%hs: the operation failed"},
      {0x86BFF820, "%hs: the destination %s cannot be opened"},
      {0x86BFF821, "%hs: no read method"},
      {0x86BFF822, "%hs: no class path"},
      {0x86BFF823, "%hs: no output directory"},
      {0x86BFF825, "extension %s cannot be loaded"},
      {0x86BFF826, "transcoder %s cannot be created"},
      {0x86BFF827, "the open-file lock cannot be created"},
  };
  return texts;
}

}  // namespace

std::string catalogueText(uint32_t code) {
  auto it = catalogue().find(code);
  return it == catalogue().end() ? std::string() : std::string(it->second);
}

}  // namespace hostkernel
