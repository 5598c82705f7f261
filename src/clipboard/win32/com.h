#pragma once
// COM for the imaging operations, which may run on threads that have not
// joined an apartment.
#include <objbase.h>
#include <wrl/client.h>

namespace dravnok::clipboard {

using Microsoft::WRL::ComPtr;

// Joins the multithreaded apartment for a scope; leaves it only when the
// join succeeded.
class ComApartment {
public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

private:
  HRESULT result_;
};

} // namespace dravnok::clipboard
