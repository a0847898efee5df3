// CStatus: the result of every SDK call and host command. Code 0 is success.
#pragma once

namespace XSI {

class CStatus {
 public:
  enum Code : long {
    OK = 0,
    Fail = 1,
    InvalidArgument = 2,
    NotFound = 3,
    Unexpected = 4,
    OutOfMemory = 5,
    Abort = 6,  // the user cancelled the command; it undid what it did
  };

  CStatus(long code = OK) : code_(code) {}  // NOLINT: implicit by design
  long GetCode() const { return code_; }
  bool Succeeded() const { return code_ == OK; }
  bool operator==(const CStatus& other) const { return code_ == other.code_; }
  bool operator!=(const CStatus& other) const { return code_ != other.code_; }

 private:
  long code_;
};

}  // namespace XSI
