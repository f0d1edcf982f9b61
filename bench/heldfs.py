#!/usr/bin/python3
# A pass-through folder that stands for a stalled network mount: while the flag file exists,
# looking up, opening and reading a file whose name contains "held" waits until it is gone.
#   heldfs.py REAL MOUNTPOINT FLAG     (as root; python3-fusepy, fuse)
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class Held(Operations):
    def __init__(self, root, flag):
        self.root = root
        self.flag = flag

    def _real(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def _wait(self, path):
        if 'held' in os.path.basename(path):
            while os.path.exists(self.flag):
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
        st = os.statvfs(self._real(path))
        return {key: getattr(st, key) for key in (
            'f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
            'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')}

    def access(self, path, mode):
        self._wait(path)
        if not os.access(self._real(path), mode):
            raise FuseOSError(errno.EACCES)


if __name__ == '__main__':
    FUSE(Held(sys.argv[1], sys.argv[3]), sys.argv[2], foreground=True, nothreads=False,
         ro=True)
