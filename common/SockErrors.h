// Socket error codes as both programs report them: Windows Sockets numbers, names and texts.
#pragma once

#include <string>

// The terminals' software and the operators know the socket errors by their Windows Sockets
// numbers and names ("Error #10054 (WSAECONNRESET)"), so the component reports them that way
// on every platform. These are the codes its own logic looks at.
constexpr int WSAEINTR = 10004;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAECONNRESET = 10054;

// The Windows Sockets code for a POSIX errno value; 0 stays 0, and an errno with no
// counterpart is returned unchanged (it is below 10000, so it never reads as a socket error).
int WsaErrorFromErrno(int err);

// The constant name of a Windows Sockets code ("WSAECONNRESET"), or "UNKNOWN ERROR".
std::string SocketErrorName(int code);

// The text of the error notice for a code: "Error #10054 (WSAECONNRESET)".
std::string SocketErrorNotice(int code);

// The text of a datagram socket failure as the module manager reports it:
// "Socket Error # 10054" CR LF and the system's description of the errno behind it.
std::string SocketErrorText(int code, int err);
