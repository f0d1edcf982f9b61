#!/usr/bin/python3
# A pass-through folder that stands for a stalled network mount: while the flag file exists,
# looking up, opening and reading a file whose name contains "held" waits until it is gone;
# with "statfs", so does asking the file system for its size, which every program that lists
# the mounted volumes does of each of them.
# A held mount stalls every program on the machine that lists the mounts, so the hold ends
# with the process that started this one, and the folder is unmounted then too, however
# that process ended.
#   heldfs.py REAL MOUNTPOINT FLAG [statfs]     (as root; python3-fusepy, fuse)
import errno
import os
import subprocess
import sys
import threading
import time

from fusepy import FUSE, FuseOSError, Operations


class Held(Operations):
    def __init__(self, root, flag, hold_statfs=False):
        self.root = root
        self.flag = flag
        self.hold_statfs = hold_statfs
        self.starter = os.getppid()

    def _holding(self):
        return os.path.exists(self.flag) and os.getppid() == self.starter

    def _real(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def _wait(self, path):
        if 'held' in os.path.basename(path):
            while self._holding():
                time.sleep(0.05)

    def getattr(self, path, fh=None):
        self._wait(path)
        try:
            st = os.lstat(self._real(path))
        except OSError as error:
            raise FuseOSError(error.errno)
        return {key: getattr(st, key) for key in (
            'st_mode', 'st_nlink', 'st_size', 'st_uid', 'st_gid',
            'st_atime', 'st_mtime', 'st_ctime')}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._real(path))

    def open(self, path, flags):
        self._wait(path)
        try:
            return os.open(self._real(path), flags)
        except OSError as error:
            raise FuseOSError(error.errno)

    def read(self, path, size, offset, fh):
        self._wait(path)
        os.lseek(fh, offset, os.SEEK_SET)
        return os.read(fh, size)

    def release(self, path, fh):
        os.close(fh)

    def statfs(self, path):
        if self.hold_statfs:
            while self._holding():
                time.sleep(0.05)
        st = os.statvfs(self._real(path))
        return {key: getattr(st, key) for key in (
            'f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
            'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')}

    def access(self, path, mode):
        self._wait(path)
        if not os.access(self._real(path), mode):
            raise FuseOSError(errno.EACCES)


def unmount_when_orphaned(starter, mountpoint):
    while os.getppid() == starter:
        time.sleep(0.2)
    subprocess.call(['fusermount', '-u', '-z', mountpoint], stderr=subprocess.DEVNULL)


if __name__ == '__main__':
    hold_statfs = len(sys.argv) > 4 and sys.argv[4] == 'statfs'
    threading.Thread(target=unmount_when_orphaned, args=(os.getppid(), sys.argv[2]),
                     daemon=True).start()
    FUSE(Held(sys.argv[1], sys.argv[3], hold_statfs), sys.argv[2], foreground=True,
         nothreads=False, ro=True)
