/* Resource identifiers of Talvix.dll (shared by the .rc and the code). */
#ifndef TALVIX_RESOURCE_H
#define TALVIX_RESOURCE_H

#define IDS_PROJNAME 100
#define IDR_TVXDEVICE 101

#endif
