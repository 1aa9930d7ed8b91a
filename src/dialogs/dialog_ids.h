/* Resource and control identifiers of the three settings dialogs.
 *
 * Plain preprocessor definitions, because the resource compiler reads this
 * file as well as the C++ compiler: the templates in win32/ and the dialog
 * code name every control through these numbers, and applications that drive
 * the dialogs (or tests) find the controls by them. */
#ifndef VARNEL_DIALOGS_DIALOG_IDS_H_
#define VARNEL_DIALOGS_DIALOG_IDS_H_

/* Templates: an English and a Japanese variant of each. */
#define IDD_CAMERA_EN 101
#define IDD_CAMERA_JA 102
#define IDD_FILTER_FRAME_EN 111
#define IDD_FILTER_FRAME_JA 112
#define IDD_IMAGE_PAGE_EN 113
#define IDD_IMAGE_PAGE_JA 114
#define IDD_GRAY_PAGE_EN 115
#define IDD_GRAY_PAGE_JA 116
#define IDD_ANALOG_FRAME_EN 121
#define IDD_ANALOG_FRAME_JA 122
#define IDD_ANALOG_PAGE_EN 123
#define IDD_ANALOG_PAGE_JA 124

/* Shared by the frames. */
#define IDC_OK 1
#define IDC_CANCEL 2
#define IDC_DEFAULT 3
#define IDC_TAB 1001

/* Camera settings dialog. */
#define IDC_APPLY 1002
#define IDC_COLOR_LIST 1009
#define IDC_SIZE_LIST 1010
#define IDC_SUBSAMPLE_LIST 1012
#define IDC_CLOCK_LIST 1014
#define IDC_H_TOTAL 1039
#define IDC_V_TOTAL 1040
#define IDC_H_EFFECTIVE 1041
#define IDC_V_EFFECTIVE 1042
#define IDC_H_START 1043
#define IDC_V_START 1044
#define IDC_WAIT_TIME 1045
#define IDC_SYNC_V_PLUS 1046
#define IDC_SYNC_V_MINUS 1047
#define IDC_SYNC_H_PLUS 1048
#define IDC_SYNC_H_MINUS 1049

/* Image filter page: rows of trackbar, edit and up-down. */
#define IDC_BRIGHTNESS_BAR 2001
#define IDC_BRIGHTNESS_EDIT 2002
#define IDC_BRIGHTNESS_SPIN 2004
#define IDC_CONTRAST_BAR 2011
#define IDC_CONTRAST_EDIT 2012
#define IDC_CONTRAST_SPIN 2014
#define IDC_HUE_BAR 2021
#define IDC_HUE_EDIT 2022
#define IDC_HUE_SPIN 2024
#define IDC_SATURATION_BAR 2031
#define IDC_SATURATION_EDIT 2032
#define IDC_SATURATION_SPIN 2034
#define IDC_SHARPNESS_BAR 2041
#define IDC_SHARPNESS_EDIT 2042
#define IDC_SHARPNESS_SPIN 2044
#define IDC_R_GAIN_BAR 2051
#define IDC_R_GAIN_EDIT 2052
#define IDC_R_GAIN_SPIN 2054
#define IDC_G_GAIN_BAR 2061
#define IDC_G_GAIN_EDIT 2062
#define IDC_G_GAIN_SPIN 2063
#define IDC_B_GAIN_BAR 2071
#define IDC_B_GAIN_EDIT 2072
#define IDC_B_GAIN_SPIN 2073
#define IDC_GAMMA_BAR 2081
#define IDC_GAMMA_EDIT 2082
#define IDC_GAMMA_SPIN 2084

/* Both filter pages: "Once", "All frames" and the Bayer Mode buttons. */
#define IDC_ONCE 2074
#define IDC_ALL_FRAMES 1035
#define IDC_BAYER_MODE_0 1030
#define IDC_BAYER_MODE_1 1031
#define IDC_BAYER_MODE_2 1032
#define IDC_BAYER_MODE_3 1033

/* Gray filter page. */
#define IDC_GRAY_GAIN_R_BAR 2100
#define IDC_GRAY_GAIN_R_EDIT 2101
#define IDC_GRAY_GAIN_R_SPIN 2102
#define IDC_GRAY_GAIN_G1_BAR 2103
#define IDC_GRAY_GAIN_G1_EDIT 2104
#define IDC_GRAY_GAIN_G1_SPIN 2105
#define IDC_GRAY_GAIN_G2_BAR 2106
#define IDC_GRAY_GAIN_G2_EDIT 2107
#define IDC_GRAY_GAIN_G2_SPIN 2108
#define IDC_GRAY_GAIN_B_BAR 2109
#define IDC_GRAY_GAIN_B_EDIT 2110
#define IDC_GRAY_GAIN_B_SPIN 2111
#define IDC_GRAY_OFFSET_R_BAR 2112
#define IDC_GRAY_OFFSET_R_EDIT 2113
#define IDC_GRAY_OFFSET_R_SPIN 2114
#define IDC_GRAY_OFFSET_G1_BAR 2115
#define IDC_GRAY_OFFSET_G1_EDIT 2116
#define IDC_GRAY_OFFSET_G1_SPIN 2117
#define IDC_GRAY_OFFSET_G2_BAR 2118
#define IDC_GRAY_OFFSET_G2_EDIT 2119
#define IDC_GRAY_OFFSET_G2_SPIN 2120
#define IDC_GRAY_OFFSET_B_BAR 2121
#define IDC_GRAY_OFFSET_B_EDIT 2122
#define IDC_GRAY_OFFSET_B_SPIN 2123
#define IDC_GRAY_MODE_BAYER 1045
#define IDC_GRAY_MODE_CONVERT 1046
#define IDC_GRAY_MODE_GRAYSCALE 1047

/* Analog page. */
#define IDC_GLOBAL_GAIN_BAR 1014
#define IDC_GLOBAL_GAIN_EDIT 1015
#define IDC_GLOBAL_GAIN_SPIN 1038
#define IDC_COLOR_GAIN_G1_BAR 1018
#define IDC_COLOR_GAIN_G1_EDIT 1019
#define IDC_COLOR_GAIN_G1_SPIN 1039
#define IDC_COLOR_GAIN_R_BAR 1020
#define IDC_COLOR_GAIN_R_EDIT 1021
#define IDC_COLOR_GAIN_R_SPIN 1040
#define IDC_COLOR_GAIN_B_BAR 1022
#define IDC_COLOR_GAIN_B_EDIT 1023
#define IDC_COLOR_GAIN_B_SPIN 1041
#define IDC_COLOR_GAIN_G2_BAR 1024
#define IDC_COLOR_GAIN_G2_EDIT 1025
#define IDC_COLOR_GAIN_G2_SPIN 1042
#define IDC_EXPOSURE_BAR 1026
#define IDC_EXPOSURE_EDIT 1027
#define IDC_EXPOSURE_SPIN 1043
#define IDC_MIRROR_V 1029
#define IDC_MIRROR_H 1030
#define IDC_AUTO_IRIS_GAIN 1036
#define IDC_AUTO_IRIS_EXPOSURE 1037

#endif /* VARNEL_DIALOGS_DIALOG_IDS_H_ */
