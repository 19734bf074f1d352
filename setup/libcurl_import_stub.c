/* Link-time stand-in for libcurl.so.4: names every libcurl function setup
   calls, without symbol versions, so that setup binds to any distribution's
   libcurl.so.4. Never loaded: the system's libcurl takes its place at run
   time, so the bodies are empty and the signatures do not matter. A call to
   a function missing here fails the link; add one only if libcurl 7.61.0
   already has it (first release in each comment). */

void curl_easy_init(void) {}     /* 7.1 */
void curl_easy_setopt(void) {}   /* 7.1 */
void curl_easy_perform(void) {}  /* 7.1 */
void curl_easy_cleanup(void) {}  /* 7.1 */
void curl_easy_getinfo(void) {}  /* 7.4.1 */
void curl_version_info(void) {}  /* 7.10 */
void curl_easy_strerror(void) {} /* 7.12.0 */
