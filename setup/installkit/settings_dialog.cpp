// NFS client settings dialog: NFSDlgProc and Configure
