#pragma once

class QThreadPool;

// The one pool of threads for work off the window's thread: copies and deletes, the details
// and waveforms of files. It is never waited for at exit: a worker stuck on a dead mount must
// not keep the program from ending, so what a task uses it holds itself.
QThreadPool &workPool();
