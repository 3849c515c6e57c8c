/* Compiles every host-facing header as C: the layout checks inside them run in the C compiler
 * too, and the dlsym forms are checked against the declarations without linking anything. */
#include <stdio.h>

#include "bkpSnapshot.h"
#include "bkpSnapVolumeList.h"
#include "piPlugin.h"
#include "pisnp_export.h"
#include "pisnp_layout.h"

#define SAME_TYPE(fn, type) \
    _Static_assert(_Generic(&fn, type : 1, default : 0), #fn " matches " #type)

SAME_TYPE(piQueryApp, piQueryApp_fn);
SAME_TYPE(piSnapshotInit, piSnapshotInit_fn);
SAME_TYPE(piTerminate, piTerminate_fn);
SAME_TYPE(bkpInitializeSnapshotSet, bkpInitializeSnapshotSet_fn);
SAME_TYPE(bkpInitializeSnapshot, bkpInitializeSnapshot_fn);
SAME_TYPE(bkpTerminateSnapshot, bkpTerminateSnapshot_fn);
SAME_TYPE(bkpStartSnapshot, bkpStartSnapshot_fn);
SAME_TYPE(bkpPreStartSnapshot, bkpPreStartSnapshot_fn);
SAME_TYPE(bkpPostStartSnapshot, bkpPostStartSnapshot_fn);
SAME_TYPE(bkpEndSnapshot, bkpEndSnapshot_fn);
SAME_TYPE(bkpOBFGetInfo, bkpOBFGetInfo_fn);
SAME_TYPE(bkpSnapshotStatusCallback, bkpSnapshotStatusCallback_fn);
SAME_TYPE(bkpSnapshotGetErrorInfo, bkpSnapshotGetErrorInfo_fn);
SAME_TYPE(bkpCancelSnapshot, bkpCancelSnapshot_fn);
SAME_TYPE(bkpSnapshotAction, bkpSnapshotAction_fn);

int main(void) {
    /* Everything above is checked at compile time; reaching this line is the test. */
    printf("1 passed, 0 failed\n");
    return 0;
}
