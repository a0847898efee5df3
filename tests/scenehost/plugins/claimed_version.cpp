// Overrides the SDK version xsi_plugin.h records (a weak definition) with
// CLAIM_MAJOR.CLAIM_MINOR, as a plug-in built against that SDK would have.
// With CLAIM_SHORT the export holds only one number.
#ifdef CLAIM_SHORT
extern "C" __attribute__((visibility("default"))) const unsigned int XSIPluginSDKVersion[1] = {
    CLAIM_MAJOR};
#else
extern "C" __attribute__((visibility("default"))) const unsigned int XSIPluginSDKVersion[2] = {
    CLAIM_MAJOR, CLAIM_MINOR};
#endif
