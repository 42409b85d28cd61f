// The page: pick or drop containers, type the password once, follow each file with
// Cancel, then view or save each plaintext; or pick files, type a password twice and save
// each container under the engine's name for it. The engine runs in a worker made from the
// page's own script (engine.js), so the page also works opened straight from a folder.
/* global QV3_TEXTS, qv3PreferredLanguage, qv3WorkerMain */
'use strict';

(function () {
  var MAX_PASSWORD_BYTES = 11; // what the viewers' password prompts take
  var MEMORY_WARNING_BYTES = 512 * 1024 * 1024;
  var VIEW_TEXT_BYTES = 2 * 1024 * 1024; // text shown in the page; the rest is saved
  var IMAGE_TYPES = { png: 'image/png', jpg: 'image/jpeg', jpeg: 'image/jpeg', gif: 'image/gif', bmp: 'image/bmp',
    webp: 'image/webp', ico: 'image/x-icon', avif: 'image/avif' };
  var MEDIA_TYPES = { mp3: 'audio/mpeg', wav: 'audio/wav', ogg: 'audio/ogg', oga: 'audio/ogg', m4a: 'audio/mp4',
    flac: 'audio/flac', mp4: 'video/mp4', webm: 'video/webm', ogv: 'video/ogg' };
  // Kinds never shown as text, whatever their bytes look like.
  var BINARY = /^(docx?|xlsx?|pptx?|hwp|odt|ods|odp|zip|7z|rar|alz|egg|gz|tgz|bz2|xz|exe|dll|msi|dwg|dxf|dwf|iso|bin|svg)$/;
  var ENCODINGS = ['utf-8', 'euc-kr', 'utf-16le', 'utf-16be', 'shift_jis', 'gb18030', 'big5', 'windows-1252'];
  var CONTAINER_ACCEPT = '.aqv3,.pqv3,.dqv3,.bqv3,.mqv3,.sqv3,.xqv3,.wqv3,.tqv3,.hqv3,.fqv3,.gqv3,.cqv3,.zqv3';

  var language = qv3PreferredLanguage(navigator.languages || [navigator.language || '']);
  var worker = null;
  var storage = null; // 'opfs' or 'memory', once the worker is ready
  var nextRun = 1;
  var lists = {};

  function $(id) {
    return document.getElementById(id);
  }

  function t(key, values) {
    var text = QV3_TEXTS[language][key];
    return text.replace(/\{(\w+)\}/g, function (_, name) {
      return values && name in values ? values[name] : '';
    });
  }

  function formatSize(bytes) {
    if (bytes < 1024) return t('size', { n: bytes });
    var units = ['KiB', 'MiB', 'GiB', 'TiB'];
    var value = bytes;
    var unit = -1;
    do {
      value /= 1024;
      ++unit;
    } while (value >= 1024 && unit < units.length - 1);
    return (value < 10 ? value.toFixed(1) : Math.round(value)) + ' ' + units[unit];
  }

  function utf8Length(text) {
    return new TextEncoder().encode(text).length;
  }

  // Cuts the field to its first 11 bytes of UTF-8, never half a character, as the
  // viewers' prompts take it; returns the byte count.
  function limitPassword(input) {
    var kept = '';
    var bytes = 0;
    for (var ch of input.value) {
      var n = utf8Length(ch);
      if (bytes + n > MAX_PASSWORD_BYTES) break;
      kept += ch;
      bytes += n;
    }
    if (kept !== input.value) input.value = kept;
    return bytes;
  }

  function randomName() {
    var bytes = crypto.getRandomValues(new Uint8Array(16));
    return Array.prototype.map.call(bytes, function (b) { return (b + 256).toString(16).slice(1); }).join('');
  }

  function extensionOf(name) {
    var dot = name.lastIndexOf('.');
    return dot < 0 ? '' : name.slice(dot + 1).toLowerCase();
  }

  function element(tag, className, text) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // ---------------------------------------------------------------------------------
  // One list of files (open or make) and its form.

  function FileListView(kind) {
    this.kind = kind; // 'open' or 'make'
    this.encrypt = kind === 'make';
    this.items = [];
    this.runId = 0;
    this.list = $(kind + '-list');
    this.form = $(kind + '-form');
    this.notice = $(kind + '-notice');
    this.cancelButton = $(kind + '-cancel');
    this.startButton = $(kind + '-start');
    this.password = $(kind + '-password');
    this.again = $(kind + '-again');
    this.count = $(kind + '-count');
    this.noticeKey = null;
    this.wire();
  }

  FileListView.prototype.wire = function () {
    var self = this;
    var input = $(this.kind + '-files');
    if (!this.encrypt) input.accept = CONTAINER_ACCEPT;
    input.addEventListener('change', function () {
      self.choose(Array.prototype.slice.call(input.files));
      input.value = '';
    });
    var drop = $(this.kind + '-drop');
    drop.addEventListener('dragover', function (e) {
      e.preventDefault();
      drop.classList.add('over');
    });
    drop.addEventListener('dragleave', function () {
      drop.classList.remove('over');
    });
    drop.addEventListener('drop', function (e) {
      e.preventDefault();
      drop.classList.remove('over');
      self.choose(Array.prototype.slice.call(e.dataTransfer.files));
    });
    [this.password, this.again].forEach(function (field) {
      if (field) field.addEventListener('input', function () { self.updateForm(); });
    });
    this.form.addEventListener('submit', function (e) {
      e.preventDefault();
      self.start();
    });
    this.cancelButton.addEventListener('click', function () {
      if (self.runId) worker.postMessage({ type: 'cancel', id: self.runId });
    });
  };

  FileListView.prototype.running = function () {
    return this.runId !== 0;
  };

  // New files replace the list (and what it had made) unless a run is going on.
  FileListView.prototype.choose = function (files) {
    if (this.running() || !files.length) return;
    this.clear();
    var self = this;
    files.forEach(function (file) {
      self.items.push({ file: file, state: 'new', percent: 0 });
    });
    this.form.hidden = false;
    this.noticeKey = null;
    if (storage === 'memory' && files.some(function (f) { return f.size > MEMORY_WARNING_BYTES; })) {
      this.noticeKey = 'tooLargeForMemory';
    }
    this.render();
    this.updateForm();
    this.password.focus();
  };

  FileListView.prototype.clear = function () {
    var stored = [];
    this.items.forEach(function (item) {
      if (item.url) URL.revokeObjectURL(item.url);
      if (item.storedName) stored.push(item.storedName);
    });
    if (stored.length && worker) worker.postMessage({ type: 'discard', names: stored });
    if (view.item && this.items.indexOf(view.item) >= 0) view.close();
    this.items = [];
  };

  FileListView.prototype.updateForm = function () {
    var bytes = limitPassword(this.password);
    if (this.again) limitPassword(this.again);
    this.count.textContent = t('bytes', { n: bytes });
    var ready = storage !== null && !this.running() && this.items.length > 0;
    var problem = null;
    if (this.encrypt) {
      if (this.password.value !== this.again.value) problem = 'mismatch';
      else if (this.password.value === '' && this.items.length) problem = 'emptyPassword';
      ready = ready && this.password.value === this.again.value;
    } else {
      ready = ready && bytes > 0;
    }
    this.startButton.disabled = !ready;
    this.formProblem = problem;
    this.renderNotice();
  };

  FileListView.prototype.renderNotice = function () {
    var key = this.formProblem || this.noticeKey;
    this.notice.hidden = !key;
    this.notice.className = 'notice' + (key && key !== 'cp949' ? ' warn' : '');
    this.notice.textContent = key ? t(key, { size: formatSize(MEMORY_WARNING_BYTES) }) : '';
  };

  FileListView.prototype.start = function () {
    if (this.startButton.disabled) return;
    var password = new TextEncoder().encode(this.password.value);
    this.password.value = '';
    if (this.again) this.again.value = '';
    this.runId = nextRun++;
    runs[this.runId] = this;
    this.items.forEach(function (item) {
      item.state = 'waiting';
      item.percent = 0;
      item.message = null;
    });
    this.noticeKey = null;
    worker.postMessage({
      type: 'run',
      id: this.runId,
      encrypt: this.encrypt,
      files: this.items.map(function (item) { return item.file; }),
      password: password,
      language: language,
    }, [password.buffer]);
    this.cancelButton.hidden = false;
    this.render();
    this.updateForm();
  };

  FileListView.prototype.onMessage = function (m) {
    var item = this.items[m.index];
    switch (m.type) {
      case 'password':
        this.noticeKey = 'cp949';
        this.renderNotice();
        return;
      case 'start':
        item.state = 'working';
        item.percent = 0;
        break;
      case 'progress':
        item.percent = m.percent;
        if (item.progress) item.progress.value = m.percent;
        return;
      case 'done':
        item.state = 'done';
        item.percent = 100;
        item.output = m.file;
        item.outputName = m.name;
        item.storedName = m.storedName;
        item.url = URL.createObjectURL(new Blob([m.file], { type: 'application/octet-stream' }));
        break;
      case 'failed':
        if (item) {
          item.state = 'failed';
          item.message = m.message;
        } else {
          this.noticeKey = null;
          this.notice.hidden = false;
          this.notice.className = 'notice warn';
          this.notice.textContent = m.message;
          return;
        }
        break;
      case 'cancelled':
        item.state = 'cancelled';
        break;
      case 'end':
        this.items.forEach(function (i) {
          if (i.state === 'waiting') i.state = 'notStarted';
        });
        delete runs[this.runId];
        this.runId = 0;
        this.cancelButton.hidden = true;
        this.updateForm();
        break;
    }
    this.render();
  };

  FileListView.prototype.render = function () {
    var self = this;
    this.list.textContent = '';
    this.items.forEach(function (item, index) {
      var li = element('li');
      li.dataset.state = item.state;
      li.dataset.index = index;
      var name = element('div', 'name', item.file.name);
      name.appendChild(element('span', 'size', formatSize(item.file.size)));
      li.appendChild(name);
      var actions = element('div', 'actions');
      if (item.state === 'done') {
        if (!self.encrypt) {
          var viewButton = element('button', 'quiet view', t('view'));
          viewButton.type = 'button';
          viewButton.addEventListener('click', function () { view.show(item); });
          actions.appendChild(viewButton);
        }
        var save = element('a', 'save', t('save'));
        save.href = item.url;
        save.download = item.outputName;
        actions.appendChild(save);
      }
      li.appendChild(actions);
      if (item.state === 'working') {
        item.progress = element('progress');
        item.progress.setAttribute('aria-label', item.file.name);
        item.progress.max = 100;
        item.progress.value = item.percent;
        li.appendChild(item.progress);
      } else {
        item.progress = null;
      }
      var status = {
        new: t('askPassword'),
        waiting: t('waiting'),
        working: t('working'),
        done: self.encrypt ? t('encrypted', { name: item.outputName }) : t('decrypted'),
        cancelled: t('cancelled'),
        notStarted: t('notStarted'),
      }[item.state];
      if (item.state === 'failed') {
        var failure = element('p', 'failure');
        failure.setAttribute('role', 'alert');
        // The engine's own text, its line breaks kept.
        failure.appendChild(document.createTextNode(item.message.replace(/\r\n/g, '\n')));
        li.appendChild(failure);
      } else {
        li.appendChild(element('div', 'status' + (item.state === 'done' ? ' good' : ''), status));
      }
      self.list.appendChild(li);
    });
  };

  // ---------------------------------------------------------------------------------
  // Viewing a plaintext in the page.

  var view = {
    item: null,
    url: null,
    bytes: null,
    detected: null,

    show: function (item) {
      this.close();
      this.item = item;
      $('view').hidden = false;
      $('view-title').textContent = item.outputName;
      var ext = extensionOf(item.outputName);
      var body = $('view-body');
      var self = this;
      if (IMAGE_TYPES[ext]) {
        var img = element('img');
        img.alt = item.outputName;
        img.src = this.blobUrl(item.output, IMAGE_TYPES[ext]);
        body.appendChild(img);
      } else if (ext === 'pdf') {
        var frame = element('iframe');
        frame.title = item.outputName;
        frame.src = this.blobUrl(item.output, 'application/pdf');
        body.appendChild(frame);
      } else if (MEDIA_TYPES[ext]) {
        var media = element(MEDIA_TYPES[ext].indexOf('video') === 0 ? 'video' : 'audio');
        media.controls = true;
        media.src = this.blobUrl(item.output, MEDIA_TYPES[ext]);
        body.appendChild(media);
      } else if (BINARY.test(ext)) {
        this.say('noPreview');
      } else {
        item.output.slice(0, VIEW_TEXT_BYTES).arrayBuffer().then(function (buffer) {
          if (self.item !== item) return;
          var bytes = new Uint8Array(buffer);
          var encoding = detectText(bytes);
          if (!encoding) {
            self.say('noPreview');
            return;
          }
          self.bytes = bytes;
          self.detected = encoding;
          self.fillEncodings();
          self.showText(encoding);
          if (item.output.size > VIEW_TEXT_BYTES) self.say('shownPart');
        });
      }
      $('view').scrollIntoView({ block: 'nearest' });
    },

    blobUrl: function (blob, type) {
      this.url = URL.createObjectURL(new Blob([blob], { type: type }));
      return this.url;
    },

    say: function (key) {
      var notice = $('view-notice');
      notice.hidden = false;
      notice.dataset.key = key;
      notice.textContent = t(key, { size: formatSize(VIEW_TEXT_BYTES) });
    },

    fillEncodings: function () {
      var select = $('view-encoding');
      var current = select.value || '';
      select.textContent = '';
      var auto = element('option', null, t('automatic', { name: this.detected }));
      auto.value = '';
      select.appendChild(auto);
      ENCODINGS.forEach(function (name) {
        var option = element('option', null, name);
        option.value = name;
        select.appendChild(option);
      });
      select.value = current;
      $('view-encoding-label').hidden = false;
    },

    showText: function (encoding) {
      var body = $('view-body');
      body.textContent = '';
      var pre = element('pre');
      pre.id = 'view-text';
      pre.textContent = new TextDecoder(encoding).decode(this.bytes, { stream: true });
      body.appendChild(pre);
    },

    close: function () {
      if (this.url) URL.revokeObjectURL(this.url);
      this.url = null;
      this.item = null;
      this.bytes = null;
      $('view').hidden = true;
      $('view-body').textContent = '';
      $('view-notice').hidden = true;
      $('view-encoding-label').hidden = true;
      $('view-encoding').value = '';
    },

    relabel: function () {
      if (!this.item) return;
      if (this.bytes) this.fillEncodings();
      var notice = $('view-notice');
      if (!notice.hidden) this.say(notice.dataset.key);
    },
  };

  // The encoding of text bytes, or null when they do not look like text: a byte order
  // mark, else UTF-8 when they are valid UTF-8, else code page 949 when valid as that,
  // else windows-1252. Text has no NUL bytes (UTF-16 has a byte order mark).
  function detectText(bytes) {
    if (bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf) return 'utf-8';
    if (bytes[0] === 0xff && bytes[1] === 0xfe) return 'utf-16le';
    if (bytes[0] === 0xfe && bytes[1] === 0xff) return 'utf-16be';
    if (bytes.subarray(0, 65536).indexOf(0) >= 0) return null;
    var candidates = ['utf-8', 'euc-kr'];
    for (var i = 0; i < candidates.length; ++i) {
      try {
        // Streaming: a character cut by the end of what is shown is no error.
        new TextDecoder(candidates[i], { fatal: true }).decode(bytes, { stream: true });
        return candidates[i];
      } catch (e) {
        // not this one
      }
    }
    return 'windows-1252';
  }

  // ---------------------------------------------------------------------------------
  // Language, the worker, start-up.

  var runs = {};

  function applyLanguage() {
    document.documentElement.lang = language;
    Array.prototype.forEach.call(document.querySelectorAll('[data-text]'), function (e) {
      e.textContent = t(e.dataset.text);
    });
    var button = $('language');
    button.textContent = t('language');
    button.setAttribute('aria-label', t('languageLabel'));
    button.lang = language === 'ko' ? 'en' : 'ko';
    document.title = t('title');
    $('storage').textContent = storage ? t(storage === 'opfs' ? 'storageDisk' : 'storageMemory',
      { size: formatSize(MEMORY_WARNING_BYTES) }) : '';
    Object.keys(lists).forEach(function (k) {
      lists[k].updateForm();
      lists[k].render();
    });
    view.relabel();
  }

  function startWorker() {
    var source = '(' + qv3WorkerMain.toString() + ')();';
    var url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    worker.onmessage = function (e) {
      var m = e.data;
      if (m.type === 'ready') {
        storage = m.storage;
        document.body.dataset.ready = m.storage;
        applyLanguage();
      } else if (m.type === 'broken') {
        document.body.dataset.ready = 'broken';
        $('storage').textContent = t('engineBroken', { message: m.message });
      } else if (runs[m.id]) {
        runs[m.id].onMessage(m);
      }
    };
    worker.postMessage({ type: 'init', folder: 'run-' + randomName() });
  }

  function init() {
    lists.open = new FileListView('open');
    lists.make = new FileListView('make');
    $('language').addEventListener('click', function () {
      language = language === 'ko' ? 'en' : 'ko';
      applyLanguage();
    });
    $('view-close').addEventListener('click', function () { view.close(); });
    $('view-encoding').addEventListener('change', function () {
      view.showText($('view-encoding').value || view.detected);
    });
    // A file dropped beside the drop zones must not replace the page.
    ['dragover', 'drop'].forEach(function (type) {
      window.addEventListener(type, function (e) { e.preventDefault(); });
    });
    applyLanguage();
    startWorker();
  }

  init();
})();
