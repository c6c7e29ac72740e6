#include "support/MainWindowLayout.h"

#include <commctrl.h>

#include "app/ControlIds.h"

const std::vector<ControlPlace>& MainWindowControlPlaces() {
    static const std::vector<ControlPlace> places = {
        {kTokenListId, WC_LISTVIEWW, {20, 32, 280, 137}, L""},
        {kTokenInfoId, WC_LISTVIEWW, {300, 32, 510, 137}, L""},
        {kObjectListId, WC_LISTVIEWW, {20, 200, 653, 440}, L""},
        {kTokenGroupId, L"Button", {15, 15, 658, 145}, L"Token Management && Authentication "},
        {kObjectGroupId, L"Button", {15, 150, 658, 450}, L"Object management"},
        {kAdminGroupId, L"Button", {15, 450, 658, 495}, L"Admin tools"},
        {kLoginCommand, L"Button", {529, 32, 654, 54}, L"Login"},
        {kDefaultUserPinCommand, L"Button", {529, 75, 654, 97}, L"Set default user pincode"},
        {kChangePinCommand, L"Button", {529, 117, 654, 139}, L"Change pincode"},
        {kDisplayObjectsCommand, L"Button", {20, 165, 145, 187}, L"Display objects"},
        {kDeleteObjectsCommand, L"Button", {190, 165, 315, 187}, L"Delete"},
        {kImportCommand, L"Button", {360, 165, 485, 187}, L"Import Cert/PFX"},
        {kExportCertificateCommand, L"Button", {530, 165, 655, 187}, L"Export certificate"},
        {kClearTokenCommand, L"Button", {100, 465, 225, 487}, L"Clear token"},
        {kUnblockPinCommand, L"Button", {270, 465, 395, 487}, L"Unblock user pincode"},
        {kChangeSoPinCommand, L"Button", {440, 465, 565, 487}, L"Change SO pincode"},
    };
    return places;
}

RECT ClientRectOf(HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}
