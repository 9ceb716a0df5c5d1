// Who may change the package. The patch runs elevated and takes tolvanix.ini, the companion
// library and every package file from the package folder: whoever may write there decides what
// an administrator's run installs. Only the permissions of this machine's file system are seen;
// a share's own permissions, which the server applies first, are not.
#include "check/check.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// "S-1-", a 48-bit authority and up to 15 sub-authorities of ten digits each.
const int kSidTextCapacity = 192;
typedef char SidText[kSidTextCapacity];

// The accounts a package may be written by: SYSTEM, Administrators, TrustedInstaller.
const char *const kAdministratorSids[] = {
    "S-1-5-18", "S-1-5-32-544", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
// An entry for this SID grants its rights to whoever owns the file.
const char kOwnerRights[] = "S-1-3-4";
const char *const kKnownNames[][2] = {
    {"S-1-1-0", "Everyone"},           {"S-1-5-11", "Authenticated Users"},
    {"S-1-5-32-545", "Users"},         {"S-1-5-32-547", "Power Users"},
    {"S-1-5-4", "Interactive"},        {"S-1-5-7", "Anonymous"},
    {"S-1-3-4", "Owner Rights"},       {"S-1-5-18", "SYSTEM"},
    {"S-1-5-32-544", "Administrators"}};

// Every right that changes a file or folder or who may change it: write data or add a file,
// append or add a subfolder, extended attributes, delete a child, attributes (the read-only flag
// and the times the gate compares), delete, permissions, owner, and the generic rights that
// hold them.
const DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                           FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                           GENERIC_WRITE | GENERIC_ALL;

// Enough for any package; a folder with more (the check run from a download folder or a drive's
// root) is looked at no further.
const int kMostChecked = 10000;
// A security descriptor's list holds at most 64 KB; the owner's SID comes besides.
const DWORD kDescriptorCapacity = 65536 + 1024;

// One kind of problem: how many files and folders have it, and the first of them with why.
struct Problem {
  int count;
  Path first;
  char why[kTextCapacity];
};

struct PermissionWalk {
  SidText user; // the running account, "" when its token cannot be read
  int userIsAdministrator;
  void *descriptor; // kDescriptorCapacity bytes
  int checked;
  int stopped;
  SidText folderOwner;
  Problem writable, owner, unreadable;
};

// The SID as text, "S-1-5-32-544"; "?" for one that is not a SID.
void SidToText(PSID sid, SidText &text) {
  const SID *s = static_cast<const SID *>(sid);
  if (!s || s->Revision != SID_REVISION || s->SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) {
    CopyText(text, kSidTextCapacity, "?");
    return;
  }
  const BYTE *a = s->IdentifierAuthority.Value;
  int n = a[0] || a[1] ? FormatText(text, kSidTextCapacity, "S-1-0x%02X%02X%02X%02X%02X%02X", a[0],
                                    a[1], a[2], a[3], a[4], a[5])
                       : FormatText(text, kSidTextCapacity, "S-1-%lu",
                                    static_cast<unsigned long>(a[2]) << 24 |
                                        static_cast<unsigned long>(a[3]) << 16 |
                                        static_cast<unsigned long>(a[4]) << 8 | a[5]);
  const DWORD *sub = s->SubAuthority;
  for (int i = 0; i < s->SubAuthorityCount; ++i) {
    int more =
        FormatText(text + n, kSidTextCapacity - n, "-%lu", static_cast<unsigned long>(sub[i]));
    if (more < 0) { // cannot happen at this capacity; never a cut SID that reads as another
      CopyText(text, kSidTextCapacity, "?");
      return;
    }
    n += more;
  }
}

// The SID with a name a person knows it by, where it has one here.
void NameSid(const PermissionWalk &walk, const char *sid, char *buf, int cap) {
  const char *name = lstrcmpA(sid, walk.user) == 0 ? "the running user" : nullptr;
  for (const auto &known : kKnownNames)
    if (!name && lstrcmpA(sid, known[0]) == 0)
      name = known[1];
  if (!name || FormatText(buf, cap, "%s (%s)", sid, name) < 0)
    CopyText(buf, cap, sid);
}

int IsAdministrator(const PermissionWalk &walk, const char *sid) {
  for (const char *administrator : kAdministratorSids)
    if (lstrcmpA(sid, administrator) == 0)
      return 1;
  // The running user, when it holds the Administrators group's rights: what it writes, an
  // administrator wrote (a package unpacked by the administrator who then checks it).
  return walk.userIsAdministrator && lstrcmpA(sid, walk.user) == 0;
}

// Who runs this check, and whether as an administrator: the group must be enabled, as in an
// elevated token; an administrator's program run without those rights (UAC) holds it for deny
// only, and what it may write, programs without administrator rights may write.
void FindRunningUser(PermissionWalk *walk) {
  HANDLE token = nullptr;
  if (!Os.OpenProcessToken(Os.GetCurrentProcess(), TOKEN_QUERY, &token))
    return;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
  DWORD size = 0;
  if (CheckOs.GetTokenInformation(token, TokenUser, &user, sizeof user, &size))
    SidToText(user.user.User.Sid, walk->user);
  // A domain account's groups may be many: their size first.
  size = 0;
  CheckOs.GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  TOKEN_GROUPS *groups = size ? static_cast<TOKEN_GROUPS *>(Os.LocalAlloc(LPTR, size)) : nullptr;
  if (groups && CheckOs.GetTokenInformation(token, TokenGroups, groups, size, &size)) {
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      SidText group;
      SidToText(groups->Groups[i].Sid, group);
      DWORD attributes = groups->Groups[i].Attributes;
      if (lstrcmpA(group, kAdministratorSids[1]) == 0 && (attributes & SE_GROUP_ENABLED) &&
          !(attributes & SE_GROUP_USE_FOR_DENY_ONLY))
        walk->userIsAdministrator = 1;
    }
  }
  if (groups)
    Os.LocalFree(groups);
  Os.CloseHandle(token);
}

// Whether the ", "-separated list holds item.
int Lists(const char *list, const char *item) {
  int length = lstrlenA(item);
  for (const char *p = list; *p;) {
    int i = 0;
    while (i < length && p[i] == item[i])
      ++i;
    if (i == length && (p[i] == 0 || p[i] == ','))
      return 1;
    while (*p && *p != ',')
      ++p;
    while (*p == ',' || *p == ' ')
      ++p;
  }
  return 0;
}

void Note(Problem *problem, const char *path, const char *why) {
  if (problem->count++ > 0)
    return;
  CopyText(problem->first, MAX_PATH, path);
  if (!CopyText(problem->why, kTextCapacity, why))
    CopyText(problem->why, kTextCapacity, "(too long to show)");
}

// One file or folder: its owner, and every account its permissions let write to it.
void CheckOne(PermissionWalk *walk, const char *path) {
  ++walk->checked;
  DWORD needed = 0;
  void *sd = walk->descriptor;
  char number[16];
  if (!CheckOs.GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd,
                                kDescriptorCapacity, &needed)) {
    FormatText(number, sizeof number, "%lu", GetLastError());
    Note(&walk->unreadable, path, number);
    return;
  }
  SidText sid;
  char named[kTextCapacity];
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!CheckOs.GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !owner)
    CopyText(sid, kSidTextCapacity, "none");
  else
    SidToText(owner, sid);
  if (walk->checked == 1)
    CopyText(walk->folderOwner, kSidTextCapacity, sid);
  int ownerIsAdministrator = IsAdministrator(*walk, sid);
  if (!ownerIsAdministrator) {
    NameSid(*walk, sid, named, sizeof named);
    Note(&walk->owner, path, named);
  }

  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!CheckOs.GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) {
    FormatText(number, sizeof number, "%lu", GetLastError());
    Note(&walk->unreadable, path, number);
    return;
  }
  if (!present || !dacl) {
    Note(&walk->writable, path, "everyone, as it has no list of permissions (a NULL DACL)");
    return;
  }
  char writers[kTextCapacity];
  writers[0] = 0;
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER *ace = nullptr;
    if (!CheckOs.GetAce(dacl, i, reinterpret_cast<void **>(&ace)) || !ace)
      continue;
    // Only what grants: a deny entry can only take rights away, so leaving it out errs towards
    // a warning too many, never one too few. A conditional grant counts as if its condition
    // held. An inherit-only entry is for what is made in the folder later; what is in it now is
    // checked on its own.
    if ((ace->AceType != ACCESS_ALLOWED_ACE_TYPE &&
         ace->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) ||
        (ace->AceFlags & INHERIT_ONLY_ACE))
      continue;
    const ACCESS_ALLOWED_ACE *allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE *>(ace);
    if (!(allowed->Mask & kWriteRights))
      continue;
    SidToText(const_cast<DWORD *>(&allowed->SidStart), sid);
    if (IsAdministrator(*walk, sid) || (ownerIsAdministrator && lstrcmpA(sid, kOwnerRights) == 0))
      continue;
    NameSid(*walk, sid, named, sizeof named);
    if (Lists(writers, named))
      continue;
    int length = lstrlenA(writers);
    if (length + lstrlenA(named) + 3 < kTextCapacity)
      FormatText(writers + length, kTextCapacity - length, length ? ", %s" : "%s", named);
  }
  if (writers[0])
    Note(&walk->writable, path, writers);
}

// Everything below folder, each subfolder after its own check.
void CheckBelow(PermissionWalk *walk, const char *folder) {
  Path path;
  if (!CopyText(path, MAX_PATH, folder) || !AppendPath(path, MAX_PATH, "*"))
    return;
  WIN32_FIND_DATAA found;
  FillBytes(&found, sizeof found, 0);
  HANDLE search = Os.FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) {
    char number[16];
    FormatText(number, sizeof number, "%lu", GetLastError());
    Note(&walk->unreadable, folder, number);
    return;
  }
  do {
    const char *name = found.cFileName;
    if (lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0)
      continue;
    if (walk->checked >= kMostChecked) {
      walk->stopped = 1;
      break;
    }
    // A path longer than 259 characters is one the patcher cannot open either.
    if (!CopyText(path, MAX_PATH, folder) || !AppendPath(path, MAX_PATH, name))
      continue;
    CheckOne(walk, path);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      CheckBelow(walk, path);
  } while (CheckOs.FindNextFileA(search, &found));
  Os.FindClose(search);
}

// One finding for a kind of problem: its first file, and how many more share it.
void ReportProblem(const Problem &problem, const char *format) {
  if (problem.count == 0)
    return;
  char more[96];
  more[0] = 0;
  if (problem.count == 2)
    CopyText(more, sizeof more, " (the same holds for 1 more file or folder in the package)");
  else if (problem.count > 2)
    FormatText(more, sizeof more, " (the same holds for %d more files and folders in the package)",
               problem.count - 1);
  char message[1000];
  if (FormatText(message, sizeof message, format, problem.why, more) < 0)
    CopyText(message, sizeof message, "(the message does not fit)");
  ReportFinding(kWarning, problem.first, "", "", message);
}

} // namespace

void CheckWhoMayWrite(const char *folder) {
  DWORD attributes = Os.GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return;
  // The volume's root: "C:\" or "\\server\share\".
  Path root;
  root[0] = 0;
  int share = 0;
  if (folder[0] == '\\' && folder[1] == '\\' && folder[2] != '?' && folder[2] != '.') {
    share = 1;
    int slashes = 0, n = 0;
    for (; folder[n] && n < MAX_PATH - 2; ++n) {
      if (folder[n] == '\\' && ++slashes == 4)
        break;
      root[n] = folder[n];
    }
    root[n] = '\\';
    root[n + 1] = 0;
  } else if (folder[0] && folder[1] == ':') {
    FormatText(root, MAX_PATH, "%c:\\", folder[0]);
  }
  if (root[0] && CheckOs.GetDriveTypeA(root) == DRIVE_REMOTE)
    share = 1;
  char fileSystem[32];
  DWORD flags = 0;
  if (!root[0] || !CheckOs.GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags,
                                                 fileSystem, sizeof fileSystem)) {
    CopyText(fileSystem, sizeof fileSystem, "unknown");
    flags = FS_PERSISTENT_ACLS; // not known to have none: the permissions tell
  }

  PermissionWalk walk;
  FillBytes(&walk, sizeof walk, 0);
  int walked = 0;
  if (!(flags & FS_PERSISTENT_ACLS)) {
    char message[600];
    FormatText(message, sizeof message,
               "lies on %s, a file system that keeps no permissions: anyone who may use this "
               "computer may change tolvanix.ini, the companion library and the package files "
               "that the elevated patch run takes from here: keep the package on NTFS, "
               "writable by administrators only",
               fileSystem);
    ReportFinding(kWarning, folder, "", "", message);
  } else {
    walk.descriptor = Os.LocalAlloc(LPTR, kDescriptorCapacity);
    if (!walk.descriptor) {
      ReportFinding(kError, folder, "", "", "out of memory while reading its permissions");
      return;
    }
    FindRunningUser(&walk);
    CheckOne(&walk, folder);
    CheckBelow(&walk, folder);
    Os.LocalFree(walk.descriptor);
    walked = 1;
    const char *why = ": the elevated patch run reads tolvanix.ini, loads the companion library "
                      "and installs the package files from the package folder, so whoever may "
                      "change them decides what it installs: let only administrators write to "
                      "the package folder";
    char format[600];
    FormatText(format, sizeof format, "may be written by %%s, not by administrators only%%s%s",
               why);
    ReportProblem(walk.writable, format);
    FormatText(format, sizeof format,
               "its owner %%s is not an administrator%%s, and an owner may always change who "
               "may write to it%s",
               why);
    ReportProblem(walk.owner, format);
    ReportProblem(walk.unreadable, "its permissions cannot be read (error %s)%s: whether only "
                                   "administrators may write to it is not known");
    if (walk.stopped) {
      char most[16];
      FormatText(most, sizeof most, "%d", kMostChecked);
      char message[300];
      FormatText(message, sizeof message,
                 "holds more than %s files and folders: who may write to the rest is not "
                 "checked",
                 most);
      ReportFinding(kWarning, folder, "", "", message);
    }
  }

  CheckRecord record;
  char line[MAX_PATH + 64];
  FormatText(line, sizeof line, "who may write to the package folder %s", folder);
  BeginRecord(&record, "permissions", line);
  AddJsonField(&record, "folder", folder);
  AddField(&record, "file system", fileSystem);
  if (walked) {
    char named[kTextCapacity];
    NameSid(walk, walk.folderOwner, named, sizeof named);
    AddJsonField(&record, "owner", walk.folderOwner);
    AddTextField(&record, "owner", named);
    AddJsonField(&record, "running user", walk.user);
    AddJsonField(&record, "running user is an administrator",
                 walk.userIsAdministrator ? "yes" : "no");
    AddTextField(&record, "running user",
                 walk.userIsAdministrator ? "an administrator: what it owns or may write counts "
                                            "as written by administrators"
                                          : "not an administrator (or without an "
                                            "administrator's rights)");
    AddJsonNumber(&record, "checked", walk.checked);
    char checked[96];
    FormatText(checked, sizeof checked, "%d files and folders, the package folder with them",
               walk.checked);
    AddTextField(&record, "checked", checked);
  }
  AddJsonField(&record, "share", share ? "yes" : "no");
  if (share)
    AddTextField(&record, "share",
                 "the share's own permissions are not seen from here: let only administrators "
                 "change what is on it");
  EmitRecord(&record);
}
