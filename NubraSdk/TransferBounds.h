// How far one transfer may go: how many body bytes a response may deliver,
// and where a redirect may lead.
//
// A server decides what it sends, so neither its announced length nor its
// byte stream is trusted on its own: the size the caller ordered bounds the
// body, an announced length or Content-Range total that disagrees with it
// ends the transfer before a byte is written, and without any size a fixed
// cap keeps an endless body from filling the disk.
#pragma once

#include <windows.h>

#include <string>

namespace nubra {

// The most a transfer without an ordered or announced size may fetch, and the
// largest announced size accepted at all: the caller's order can name no
// larger file (its size is a 32-bit signed number).
constexpr ULONGLONG kUnsizedCapBytes = 0x7FFFFFFFull;

// Redirects followed for one transfer before it fails.
constexpr int kMaxRedirects = 10;

// The cap in force: kUnsizedCapBytes, or a smaller one named by the
// environment variable NUBRA_SIZE_CAP_BYTES (tests use it; it never raises the cap).
ULONGLONG UnsizedCapBytes();

// Decides what the answer to a request starting at ullOffset may deliver.
// llOrdered is the caller's size (<= 0: none), llLength the announced body
// length and llRangeTotal the Content-Range total (-1: not announced).
// Returns false when the answer contradicts the order or the cap; otherwise
// ullMaxBody is the most body bytes it may deliver and bExact tells whether
// fewer bytes mean a broken transfer.
bool BodyBounds(LONGLONG llOrdered, ULONGLONG ullOffset, LONGLONG llLength, LONGLONG llRangeTotal, ULONGLONG ullCap,
                ULONGLONG& ullMaxBody, bool& bExact);

// The address a redirect's Location leads to, resolved against the address
// that answered; false unless it is an http or https address.
bool RedirectTarget(const std::wstring& strFrom, const std::wstring& strLocation, std::wstring& strTo);

bool IsRedirectStatus(DWORD dwStatus);

}  // namespace nubra
