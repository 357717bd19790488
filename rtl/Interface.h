#pragma once
// The root of the project's interfaced objects: what a Variant can hold as an object handle.
namespace rtl {

struct IInterface {
  virtual ~IInterface() = default;
};

}  // namespace rtl
