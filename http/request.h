// One HTTP exchange through WinINet: a GET or a form POST whose whole response body is
// read into one block of memory.
#pragma once

#include "platform/win32.h"

// Result codes of SendReqData.
constexpr int kRequestOk = 0;
constexpr int kRequestNoInternet = -101;    // InternetOpenW gave no handle
constexpr int kRequestNoConnection = -102;  // InternetConnectW gave no handle
constexpr int kRequestNoRequest = -103;     // HttpOpenRequestW gave no handle
constexpr int kRequestPostFailed = -104;    // HttpSendRequestW of a POST did not return TRUE
constexpr int kRequestGetFailed = -105;     // HttpSendRequestW of a GET did not return TRUE
constexpr int kRequestBodyBroken = -106;    // the body did not arrive whole
constexpr int kRequestHttpError = -107;     // the server answered with a status of 400 to 599
constexpr int kRequestWriteFailed = -108;   // SendReqDataToFile: the file took less than given
constexpr int kRequestNoMemory = -110;      // the body block could not be allocated

// Traces "SendReqData:sv=[..],mtd=[..],pg=[..],pst=.." into TraceBuffer, then requests the
// object `pg` from server `sv` with method `mtd` ("POST" exactly sends `pst`, up to its zero
// byte, as a form; anything else is sent as a GET and `pst` is ignored) at the low 16 bits
// of `port` (0: the scheme's default). `secure` sends the request over TLS with certificate
// verification.
//
// Only a whole answer counts: a status of 400 to 599 gives kRequestHttpError without the
// body being read, and a body that breaks off (a failed read: reset, time limit, broken
// chunked stream) or ends short of its Content-Length gives kRequestBodyBroken; what
// arrived is dropped. Redirects are followed by the layer. A failed exchange traces one
// more line with its cause: "SendReqData:rc=<result>," then "status=<code>",
// "read=<bytes>[/<announced>][,error=<GetLastError>]" or "error=<GetLastError>".
//
// On 0, *body is a LocalAlloc'd block the caller frees with LocalFree: the body bytes, then
// one zero byte (not counted in *bodyLength); its capacity is a multiple of 102400. *body is
// set to null on entry; *bodyLength is only written on success.
int SendReqData(LPCWSTR sv, LPCWSTR mtd, LPCWSTR pg, int port, LPCWSTR user, LPCWSTR password,
                LPCSTR pst, LPSTR* body, DWORD* bodyLength, BOOL secure = FALSE);

// The same exchange (trace lines, handles, result codes), with the body written to `file`
// block by block as it arrives instead of being held: a raw download then needs no memory in
// proportion to its size. On a failure the file holds what arrived and the caller drops it;
// a failed or short write stops with kRequestWriteFailed.
int SendReqDataToFile(LPCWSTR sv, LPCWSTR mtd, LPCWSTR pg, int port, LPCWSTR user, LPCWSTR password,
                      LPCSTR pst, HANDLE file, BOOL secure = FALSE);
