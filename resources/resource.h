/* Resource identifiers shared by the resource scripts and the programs. */
#ifndef BRIX_RESOURCES_RESOURCE_H
#define BRIX_RESOURCES_RESOURCE_H

#define IDD_PROGRESS 101        /* installer's progress dialog */
#define IDC_PROGRESS_DASHES 1000 /* control receiving the line of dashes */
#define IDI_BRIXPARSE 102       /* importer's icon group */

#endif
