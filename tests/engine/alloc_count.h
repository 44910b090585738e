// Live count of the test program's operator new allocations, so a test can see that a job leaves
// nothing behind. Any thread.
#pragma once

long long LiveAllocations();
