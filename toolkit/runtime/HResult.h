// HRESULT: the 32-bit result code of every COM-style call, with its success and failure tests.
#pragma once

#include <cstdint>

#ifdef _WIN32
// The platform's result type, codes and tests (macros); only what it lacks is added here.
#ifndef NOMINMAX
#define NOMINMAX  // keep std::min and std::max usable
#endif
#include <windows.h>
// clang-format off
#include <olectl.h>  // the connection-point codes
// clang-format on

namespace velqor::com {
using HRESULT = ::HRESULT;
constexpr HRESULT MakeHResult(uint32_t code) { return static_cast<HRESULT>(code); }
inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE_HR = MakeHResult(0x800706BA);
const char* SystemMessageText(HRESULT hr);
}  // namespace velqor::com

#else

namespace velqor::com {

using HRESULT = int32_t;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT MakeHResult(uint32_t code) { return static_cast<HRESULT>(code); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHResult(0x80040150);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
inline constexpr HRESULT CO_S_NOTALLINTERFACES = MakeHResult(0x00080012);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106);
inline constexpr HRESULT RPC_E_CALL_CANCELED = MakeHResult(0x80010002);
inline constexpr HRESULT CO_E_NOT_SUPPORTED = MakeHResult(0x80004021);
// The RPC error 1722 as a result code (HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)).
inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE_HR = MakeHResult(0x800706BA);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = MakeHResult(0x80040003);
inline constexpr HRESULT OLE_E_NOCONNECTION = MakeHResult(0x80040004);
inline constexpr HRESULT DV_E_FORMATETC = MakeHResult(0x80040064);
inline constexpr HRESULT DV_E_TYMED = MakeHResult(0x80040069);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHResult(0x8002000D);

// The platform's own text for a code (what the system message table would say), e.g.
// "No such interface supported" for E_NOINTERFACE; "Unknown error 0x%08X" otherwise.
const char* SystemMessageText(HRESULT hr);

}  // namespace velqor::com

#endif  // _WIN32
