// How far one transfer may go: how many body bytes a response may deliver,
// and where a redirect may lead.
//
// A server decides what it sends, so neither its announced length nor its
// byte stream is trusted on its own. The size the caller ordered is a hint,
// not a contract: the caller's digest of the finished file decides, so a
// file somewhat longer or shorter than ordered is fetched whole. How much
// it may differ is OrderedSizeMargin() (netlib/DownloadRecord.h: 1 MiB or
// 1 %, whichever is larger). An announced length or Content-Range total
// beyond that ends the transfer before a byte is written; without any
// announcement the body may run to the ordered size plus the margin and no
// further; with neither an order nor an announcement a fixed cap keeps an
// endless body from filling the disk. Never is more written than announced.
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

// The cap in force on a transfer without an ordered size: kUnsizedCapBytes,
// or a smaller one named by the environment variable NUBRA_SIZE_CAP_BYTES
// (tests use it; it never raises the cap, nor lowers it below the floor). An
// ordered transfer meets only kUnsizedCapBytes, so that no value there can
// refuse a normal upgrade.
constexpr ULONGLONG kUnsizedCapFloorBytes = 256 * 1024;
ULONGLONG UnsizedCapBytes();

// What BodyBounds found wrong with an answer.
enum class BoundsVerdict {
    Accepted,
    BeyondOrder,      // the announced file is longer than the order and its margin
    BelowOrder,       // the announced file is shorter than the order less its margin
    BeyondCap,        // announced or ordered beyond the cap
    Inconsistent,     // the length is not the rest of the announced total
    OffsetBeyondFile  // the range starts past the end of the file
};

// Decides what the answer to a request starting at ullOffset may deliver.
// llOrdered is the caller's size (<= 0: none), llLength the announced body
// length and llRangeTotal the Content-Range total (-1: not announced).
// Unless it returns Accepted, nothing of the answer may be kept; otherwise
// ullMaxBody is the most body bytes it may deliver and bExact tells whether
// fewer bytes mean a broken transfer.
BoundsVerdict BodyBounds(LONGLONG llOrdered, ULONGLONG ullOffset, LONGLONG llLength, LONGLONG llRangeTotal,
                         ULONGLONG ullCap, ULONGLONG& ullMaxBody, bool& bExact);

// Why a redirect is not followed.
enum class RedirectVerdict {
    Follow,
    Malformed,   // no usable Location
    NotWeb,      // leads to something other than http or https
    LeavesHttps  // from https to plain http: the rest would travel unprotected
};

// The address a redirect's Location leads to, resolved against the address
// that answered; only http and https addresses, and never from https back
// to http.
RedirectVerdict RedirectTarget(const std::wstring& strFrom, const std::wstring& strLocation, std::wstring& strTo);

bool IsRedirectStatus(DWORD dwStatus);

}  // namespace nubra
