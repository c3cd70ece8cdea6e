// Logon of UNIX users for PCNFSD: the server registers as the logon process
// "QX-Secure" and checks a user's name and password through the Local
// Security Authority (the layer's PAM logon), interactively first, then as a
// network logon.
#pragma once

#include <ntsecapi.h>

// 1 when registered, else 0 (the server then refuses every logon).
int RegisterLogonProcess();
bool DeregisterLogonProcess();
// A token, or null with the logon's status: the sub-status in place of
// STATUS_ACCOUNT_RESTRICTION. A null domain means this computer. With
// `profile`, the caller receives the profile buffer and frees it with
// LsaFreeReturnBuffer.
HANDLE LogonInteractive(const char *user, const char *domain, const char *password, void **profile, NTSTATUS *status);
HANDLE LogonNetwork(const char *user, const char *domain, const char *password, int *guest, void **profile,
                    NTSTATUS *status);
