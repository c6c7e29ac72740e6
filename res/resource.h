// Identifiers of the program's resources: dialog templates and their controls.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// "Login to token"
#define IDD_LOGIN 113
#define IDC_LOGIN_PIN 1003

// "Clear token"
#define IDD_CLEAR_TOKEN 104
#define IDC_CLEAR_SO_PIN 1003
#define IDC_CLEAR_LABEL 1004

// "Change pincode"
#define IDD_CHANGE_PIN 105
#define IDC_CHANGE_OLD_PIN 1003
#define IDC_CHANGE_NEW_PIN 1006
#define IDC_CHANGE_CONFIRM_PIN 1007

// "Unblock user pincode"
#define IDD_UNBLOCK_PIN 106
#define IDC_UNBLOCK_USER_PIN 1006
#define IDC_UNBLOCK_CONFIRM_PIN 1007
#define IDC_UNBLOCK_SO_PIN 1008

// "Set user pincode policy"
#define IDD_PIN_POLICY 115
#define IDC_POLICY_MAX_FAILED 1003
#define IDC_POLICY_MAX_LENGTH 1005
#define IDC_POLICY_MIN_LENGTH 1007
#define IDC_POLICY_SO_PIN 1008
#define IDC_POLICY_LEVEL1 1013
#define IDC_POLICY_LEVEL2 1014
#define IDC_POLICY_LEVEL3 1015
#define IDC_POLICY_LEVEL4 1016

// "Change SO pincode"
#define IDD_CHANGE_SO_PIN 116
#define IDC_SOPIN_OLD 1003
#define IDC_SOPIN_NEW 1006
#define IDC_SOPIN_CONFIRM 1007

// "Import pfx properties"
#define IDD_PFX_IMPORT 112
#define IDC_PFX_PASSWORD 1003
#define IDC_PFX_IMPORT_CHAIN 1009
#define IDC_PFX_KEY_EXTRACTABLE 1010
