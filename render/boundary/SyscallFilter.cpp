// The system calls LibreOffice may not make, with libseccomp.
#include "SyscallFilter.h"

#include <QByteArray>
#include <QByteArrayList>

#include <cerrno>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pradelux::render::boundary {

int SyscallFilterProgram()
{
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return -1;
    bool ok = true;
    const auto deny = [&](int call, int error, unsigned count = 0, scmp_arg_cmp arg = {}) {
        if (call < 0)
            return; // not on this architecture
        ok = ok && (count ? ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), call, 1, arg)
                          : ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), call, 0)) == 0;
    };
    const QByteArray refused =
        "mount umount2 pivot_root chroot unshare setns open_tree move_mount fsopen fsconfig fsmount fspick "
        "mount_setattr ptrace process_vm_readv process_vm_writev kexec_load kexec_file_load init_module "
        "finit_module delete_module bpf perf_event_open userfaultfd keyctl add_key request_key syslog acct swapon "
        "swapoff reboot quotactl uselib vhangup name_to_handle_at open_by_handle_at io_uring_setup io_uring_enter "
        "io_uring_register lookup_dcookie";
    for (const QByteArray& name : refused.split(' '))
        deny(::seccomp_syscall_resolve_name(name.constData()), EPERM);
    // No new namespace through clone; clone3's flags cannot be looked at, so
    // it is refused as unknown and the C library falls back to clone.
    for (const scmp_datum_t flag :
         {CLONE_NEWNS, CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWUTS, CLONE_NEWIPC, CLONE_NEWCGROUP})
        deny(::seccomp_syscall_resolve_name("clone"), EPERM, 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag));
    deny(::seccomp_syscall_resolve_name("clone3"), ENOSYS);
    // No memory that the watch of a renderer's memory cannot count: a
    // memfd's pages, mapped nowhere, and System V segments belong to no
    // process. Refused as unknown, so that a library falls back to files of
    // /dev/shm or its private /tmp, which are bounded and counted.
    for (const char* name : {"memfd_create", "memfd_secret", "shmget"})
        deny(::seccomp_syscall_resolve_name(name), ENOSYS);
    // No typing into a terminal.
    for (unsigned long request : {static_cast<unsigned long>(TIOCSTI), static_cast<unsigned long>(TIOCLINUX)})
        deny(::seccomp_syscall_resolve_name("ioctl"), EPERM, 1, SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request));
    // Sockets of the local kind and those the empty network offers; no
    // other family (vsock would reach the machine's host).
    for (int family = 0; family < 64; ++family) {
        if (family != AF_UNIX && family != AF_INET && family != AF_INET6 && family != AF_NETLINK)
            deny(::seccomp_syscall_resolve_name("socket"), EAFNOSUPPORT, 1,
                 SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(family)));
    }
    deny(::seccomp_syscall_resolve_name("socket"), EAFNOSUPPORT, 1, SCMP_A0(SCMP_CMP_GE, 64));
    int fd = ok ? ::memfd_create("pradelux-seccomp", 0) : -1;
    if (fd >= 0 && (::seccomp_export_bpf(filter, fd) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)) {
        ::close(fd);
        fd = -1;
    }
    ::seccomp_release(filter);
    return fd;
}

} // namespace pradelux::render::boundary
