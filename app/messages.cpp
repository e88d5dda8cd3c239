#include "app/messages.h"

#include "platform/runlog.h"
#include "platform/wtext.h"

MESSAGES g_Messages;

/* Room for the decimal digits of a DWORD, a space and the terminator; the
 * number is formatted into a full message-sized buffer all the same. */
#define MSG_NUMBER_CCH MSG_TEXT_CCH

enum MSG_ID {
    MSG_FIND_FOLDER,
    MSG_CREATE_FOLDER,
    MSG_COPY,
    MSG_SUCCESS,
    MSG_FAILURE_PREFIX,
    MSG_CAPTION,
    MSG_DELETE_FOLDER,
    MSG_RESTART,
    MSG_UNREACHABLE_DRIVE,
    MSG_UNINSTALL_SUCCESS,
    MSG_UNINSTALL_FAILURE_PREFIX,
    MSG_UNINSTALL_PACKAGE,
    MSG_DISPLAY_NAME,
    MSG_UNSUPPORTED_PROCESSOR,
    MSG_COUNT
};

enum MSG_COLUMN { MSG_ENGLISH, MSG_CHINESE, MSG_COLUMN_COUNT };

/* The catalogue, in the order the run copies it. */
static const LPCWSTR kCatalogue[MSG_COUNT][MSG_COLUMN_COUNT] = {
    /* MSG_FIND_FOLDER */
    {TEXT("Find PreInstall File Folder Error."), TEXT("查找预安装文件夹出错")},
    /* MSG_CREATE_FOLDER */
    {TEXT("Create PreInstall File Folder Error."), TEXT("创建预安装文件夹出错")},
    /* MSG_COPY */
    {TEXT("Copy PreInstall File Error."), TEXT("复制预安装文件出错")},
    /* MSG_SUCCESS */
    {TEXT("Driver Install Success!"), TEXT("驱动安装成功!")},
    /* MSG_FAILURE_PREFIX */
    {TEXT("Failed, error code: "), TEXT("驱动安装失败, 原因: ")},
    /* MSG_CAPTION */
    {TEXT("QX DSP USB Driver Installer"), TEXT("QX DSP USB 驱动安装")},
    /* MSG_DELETE_FOLDER */
    {TEXT("Delete PreInstall File Folder Error."), TEXT("删除预安装文件夹出错")},
    /* MSG_RESTART */
    {TEXT("Driver has been updated, you must restart PC before insert Usb "
          "Cable!!!"),
     TEXT("驱动已更新,插入设备USB之前,必须先手动重启!!!")},
    /* MSG_UNREACHABLE_DRIVE */
    {TEXT("The package is on a drive this elevated run cannot see (a mapped "
          "network drive): copy it to a local folder, or start it from its "
          "\\\\server\\share path."),
     TEXT("驱动包所在的驱动器对提升权限后的安装程序不可见 (映射的网络驱动器): "
          "请把它复制到本地文件夹, 或从它的 \\\\server\\share 路径启动.")},
    /* MSG_UNINSTALL_SUCCESS */
    {TEXT("Driver Uninstall Success!"), TEXT("驱动卸载成功!")},
    /* MSG_UNINSTALL_FAILURE_PREFIX */
    {TEXT("Failed, error code: "), TEXT("驱动卸载失败, 原因: ")},
    /* MSG_UNINSTALL_PACKAGE */
    {TEXT("Uninstall Driver Package Error."), TEXT("卸载驱动包出错")},
    /* MSG_DISPLAY_NAME */
    {TEXT("QX DSP USB Driver"), TEXT("QX DSP USB 驱动")},
    /* MSG_UNSUPPORTED_PROCESSOR */
    {TEXT("The driver package does not support this PC's processor (ARM64)."),
     TEXT("驱动包不支持这台电脑的处理器 (ARM64).")},
};

/* The usage, one text in each column. */
static const LPCWSTR kUsage[MSG_COLUMN_COUNT] = {
    TEXT("QxDspInstaller.exe [/uninstall] [/quiet] [/log FILE] [/norestart]\n\n")
    TEXT("/uninstall, /u, /x: remove the driver and what the installer left\n")
    TEXT("/quiet, /q, /s: no message box\n")
    TEXT("/log FILE: append the log to FILE instead of ")
    TEXT("QxDspInstaller.log in the Windows folder\n")
    TEXT("/norestart: accepted; the installer never restarts the PC\n")
    TEXT("/?, /h, /help: this text\n\n")
    TEXT("Exit code: 0 installed (or uninstalled), 3010 a restart is needed, ")
    TEXT("1618 another run is in progress, 1633 the package has no driver ")
    TEXT("for this PC's processor (ARM64), 1639 a bad command line, else ")
    TEXT("the Windows error of the step that failed (1603 without one)."),
    TEXT("QxDspInstaller.exe [/uninstall] [/quiet] [/log 文件] [/norestart]\n\n")
    TEXT("/uninstall, /u, /x: 卸载驱动及安装程序留下的文件\n")
    TEXT("/quiet, /q, /s: 不显示任何消息框\n")
    TEXT("/log 文件: 日志追加到该文件, 而不是 Windows 文件夹中的 ")
    TEXT("QxDspInstaller.log\n")
    TEXT("/norestart: 可以使用; 安装程序从不重启电脑\n")
    TEXT("/?, /h, /help: 显示本说明\n\n")
    TEXT("退出码: 0 已安装 (或已卸载), 3010 需要重启, 1618 另一个安装正在运行, ")
    TEXT("1633 驱动包不支持这台电脑的处理器 (ARM64), ")
    TEXT("1639 命令行有误, 其他为出错步骤的 Windows 错误码 (没有时为 1603)."),
};

void MsgSelectAndFill(ERROR_TEXTS *errors, BOOL uninstall)
{
    /* The system's language, not the user's, picks the column; other
     * Chinese variants read English. */
    int column = GetSystemDefaultLangID() == MSG_LANG_CHINESE_PRC
                     ? MSG_CHINESE
                     : MSG_ENGLISH;
    const LPCWSTR *row;
    struct {
        int id;
        LPWSTR buffer;
    } const fills[] = {
        {MSG_FIND_FOLDER, errors->findFolder},
        {MSG_CREATE_FOLDER, errors->createFolder},
        {MSG_COPY, errors->copy},
        {uninstall ? MSG_UNINSTALL_SUCCESS : MSG_SUCCESS, g_Messages.success},
        {uninstall ? MSG_UNINSTALL_FAILURE_PREFIX : MSG_FAILURE_PREFIX,
         g_Messages.failure},
        {MSG_CAPTION, g_Messages.caption},
        {MSG_DELETE_FOLDER, errors->deleteFolder},
        {MSG_RESTART, g_Messages.restart},
        {MSG_UNREACHABLE_DRIVE, errors->unreachableDrive},
        {MSG_UNINSTALL_PACKAGE, errors->uninstallPackage},
        {MSG_DISPLAY_NAME, g_Messages.displayName},
        {MSG_UNSUPPORTED_PROCESSOR, errors->unsupportedProcessor},
    };
    for (DWORD i = 0; i < ARRAYSIZE(fills); i++) {
        row = kCatalogue[fills[i].id];
        /* Every catalogue text is far shorter than a message buffer. */
        TextCopy(fills[i].buffer, MSG_TEXT_CCH, row[column]);
    }
    g_Messages.usage = kUsage[column];
}

BOOL MsgAppendDetail(LPCWSTR detail)
{
    return TextAppend(g_Messages.failure, ARRAYSIZE(g_Messages.failure),
                      detail);
}

BOOL MsgAppendNumber(DWORD number)
{
    WCHAR formatted[MSG_NUMBER_CCH];
    TextZero(formatted, ARRAYSIZE(formatted));
    wsprintfW(formatted, TEXT("%u "), number);
    return MsgAppendDetail(formatted);
}

BOOL MsgAppendErrorNumber(void) { return MsgAppendNumber(GetLastError()); }

BOOL MsgAnyoneCanSee(BOOL preVista)
{
    /* Deployment tools start a program as SYSTEM on a window station no
     * user sees; a box there waits for a click that never comes. */
    USEROBJECTFLAGS flags;
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (station != NULL &&
        GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags),
                                  &needed) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return FALSE;
    /* From Vista on no user's desktop is in session 0, yet its WinSta0
     * reports itself visible.  On XP session 0 is the console user's. */
    DWORD session;
    if (!preVista &&
        ProcessIdToSessionId(GetCurrentProcessId(), &session) &&
        session == 0)
        return FALSE;
    return TRUE;
}

void MsgShow(LPCWSTR text)
{
    if (g_Messages.unattended) {
        RunLog(TEXT("Box not shown (quiet, or nobody can see the run): %s"),
               text);
        return;
    }
    RunLog(TEXT("Box: %s"), text);
    MessageBoxW(NULL, text, g_Messages.caption, MB_OK);
}

void MsgShowFailure(DWORD error)
{
    g_Messages.failureError = error;
    MsgShow(g_Messages.failure);
}
