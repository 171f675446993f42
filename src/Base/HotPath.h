#pragma once
// KX_HOT_PATH marks a function that runs for every walked item (or every few hundred, like a
// staging hand-over). The compiler keeps such functions together (in .text.hot), so the per-item
// path spans few code pages. Between two items the walk makes a system call, after which the
// machine has lost much of what it cached of our code and its address translations; the fewer
// pages the path touches, the less that costs.
#define KX_HOT_PATH [[gnu::hot]]
