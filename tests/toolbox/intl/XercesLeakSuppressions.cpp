// Linked into the programs that parse XML under LeakSanitizer. Xerces-C 3.2 loses one small
// declaration per external DTD it reads (allocated while it scans the document type, never handed
// to us), whether the DTD came from the entities folder or was refused and read as empty. Its
// library is built without frame pointers, so only the prolog frame shows in the report.
// That lost block makes libFuzzer run a full leak check after such an input, which then also
// lists the kernel's process-lifetime memory manager (made before main, never freed by design).

extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:xercesc_3_2::IGXMLScanner::scanDocTypeDecl\n"
           "leak:xercesc_3_2::XMLScanner::scanProlog\n"
           "leak:MemMgrLifetime\n";
}
