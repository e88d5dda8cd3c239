/* Configuration Manager of the stand-in (cfgmgr32, and setupapi on XP):
 * device instances are the keys below SYSTEM\CurrentControlSet\Enum;
 * those named in Machine::presentDevices are plugged in, the others are
 * phantoms.  Reached through GetProcAddress only, as the installer
 * reaches them.  They report through their result, never the last error. */
#include <algorithm>

#include "host/internal.h"

namespace winhost {

namespace {

const u16 kEnumRoot = u"SYSTEM\\CurrentControlSet\\Enum\\";

/* "Enumerator\Device\Instance": three non-empty parts, shorter than
 * MAX_DEVICE_ID_LEN.  Stand-in: Windows also refuses some characters in
 * the parts; they are not checked here. */
bool IsDeviceInstanceId(const u16 &id)
{
    if (id.empty() || id.size() >= MAX_DEVICE_ID_LEN)
        return false;
    size_t first = id.find(u'\\');
    if (first == u16::npos || first == 0)
        return false;
    size_t second = id.find(u'\\', first + 1);
    if (second == u16::npos || second == first + 1 || second + 1 == id.size())
        return false;
    return id.find(u'\\', second + 1) == u16::npos;
}

bool IsPresent(const u16 &id)
{
    for (const u16 &present : machine().presentDevices)
        if (EqualNoCase(present, id))
            return true;
    return false;
}

} // namespace

} // namespace winhost

using namespace winhost;

extern "C" {

CONFIGRET WINAPI HostCM_Locate_DevNodeW(PDEVINST devInst, DEVINSTID_W deviceId,
                                        ULONG flags)
{
    u16 id = FromWide(deviceId);
    if (auto err = Enter("CM_Locate_DevNodeW", id, "",
                         "flags=" + Hex(flags)))
        return static_cast<CONFIGRET>(*err);
    if (!devInst)
        return CR_INVALID_POINTER;
    *devInst = 0;
    if (flags & ~static_cast<ULONG>(CM_LOCATE_DEVNODE_BITS))
        return CR_INVALID_FLAG;
    /* Stand-in: an empty ID, which names the root devnode, is refused. */
    if (!IsDeviceInstanceId(id))
        return CR_INVALID_DEVICE_ID;
    if (!FindKey(kEnumRoot + id))
        return CR_NO_SUCH_DEVNODE;
    if (!IsPresent(id) && !(flags & CM_LOCATE_DEVNODE_PHANTOM))
        return CR_NO_SUCH_DEVNODE;
    auto &devnodes = machine().devnodes;
    devnodes.push_back(id);
    *devInst = static_cast<DEVINST>(devnodes.size());
    return CR_SUCCESS;
}

CONFIGRET WINAPI HostCM_Uninstall_DevNode(DEVNODE devNode, ULONG flags)
{
    const auto &devnodes = machine().devnodes;
    u16 id = devNode >= 1 && devNode <= devnodes.size() ? devnodes[devNode - 1]
                                                        : u16();
    if (auto err = Enter("CM_Uninstall_DevNode", id, "",
                         "flags=" + Hex(flags)))
        return static_cast<CONFIGRET>(*err);
    if (flags != 0)
        return CR_INVALID_FLAG;
    if (id.empty())
        return CR_INVALID_DEVNODE;
    /* Stand-in: Windows documents no answer for a device plugged in (it
     * wants it removed from the tree first); here it is refused. */
    if (IsPresent(id))
        return CR_REMOVE_VETOED;
    const u16 path = kEnumRoot + id;
    const size_t slash = path.rfind(u'\\');
    RegKey *parent = FindKey(path.substr(0, slash));
    if (!parent || !parent->subkeys.erase(Upper(path.substr(slash + 1))))
        return CR_NO_SUCH_DEVNODE;
    /* Stand-in: the instance's driver key below Control\Class, which
     * Windows removes with it, is left as it is. */
    return CR_SUCCESS;
}

} // extern "C"
