/* The launcher's message table: the single source of the RT_STRING resource (launcher.rc) and
   of the table compiled into the Linux images. Plain C preprocessor only: windres reads it. */
#ifndef VXO_RESOURCES_MESSAGES_H
#define VXO_RESOURCES_MESSAGES_H

#define VXO_MSG_1 "Java Runtime Environment not found."
#define VXO_MSG_2 "Java Runtime Environment not valid."
#define VXO_MSG_3 "Java Virtual Machine initialize failed."
#define VXO_MSG_4 "Java Virtual Machine starts failed."
#define VXO_MSG_5 "Can not get the virtual machine version."
#define VXO_MSG_6 "Java virtual machine version %s is too low, require %s or higher."
#define VXO_MSG_7 "The main startup class could not be found."
#define VXO_MSG_8 "The main startup class is not valid, main method missing."
#define VXO_MSG_10 "Error"
#define VXO_MSG_12 "Java virtual machine version %s is too high, version between %s and %s is required."
#define VXO_MSG_13 "There is already an instance of this program running."

/* X(number, text) for every entry, in table order. */
#define VXO_MESSAGE_TABLE(X) \
    X(1, VXO_MSG_1) X(2, VXO_MSG_2) X(3, VXO_MSG_3) X(4, VXO_MSG_4) X(5, VXO_MSG_5) \
    X(6, VXO_MSG_6) X(7, VXO_MSG_7) X(8, VXO_MSG_8) X(10, VXO_MSG_10) X(12, VXO_MSG_12) \
    X(13, VXO_MSG_13)

/* Bitmap resource of the native splash window. */
#define VXO_SPLASH_BITMAP_ID 100

#endif
