// The site's service worker (laid out as sw.js, after the site's own file list and the
// name of its cache): keeps the site's files, so that the page opens with no network once
// it has been visited. It answers only for those files, from its cache first, and asks
// the site itself for nothing else; no other origin is ever asked for anything. A new
// build of the site is a new sw.js, which takes the new files into a cache of its own
// and removes the old one.
/* global QV3_CACHE, QV3_FILES */
'use strict';

self.addEventListener('install', function (e) {
  e.waitUntil(caches.open(QV3_CACHE).then(function (cache) {
    return cache.addAll(QV3_FILES);
  }).then(function () {
    return self.skipWaiting();
  }));
});

self.addEventListener('activate', function (e) {
  e.waitUntil(caches.keys().then(function (keys) {
    return Promise.all(keys.filter(function (key) {
      return key.indexOf('qv3-') === 0 && key !== QV3_CACHE;
    }).map(function (key) {
      return caches.delete(key);
    }));
  }).then(function () {
    return self.clients.claim();
  }));
});

// Only the site's own files are answered here; every other request goes on as the page
// made it (and the page's policy has refused it before it got here).
self.addEventListener('fetch', function (e) {
  var request = e.request;
  var url = new URL(request.url);
  var scope = new URL(self.registration.scope);
  if (request.method !== 'GET' || url.origin !== scope.origin || url.pathname.indexOf(scope.pathname) !== 0) return;
  var name = url.pathname.slice(scope.pathname.length);
  if (name !== '' && QV3_FILES.indexOf(name) < 0) return;
  e.respondWith(caches.open(QV3_CACHE).then(function (cache) {
    return cache.match(name === '' ? './' : name, { ignoreSearch: true }).then(function (hit) {
      return hit || fetch(request);
    });
  }));
});
